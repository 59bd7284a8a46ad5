// The i2c-dev backend as far as it can be checked without an I2C adapter.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board_i2c.h"
#include "i2c_dev_backend.h"

namespace {

std::string Mapped(const char* path) {
  char out[64] = {};
  EXPECT_EQ(board_i2c::MapDevicePath(path, out, sizeof(out)), 0) << path;
  return out;
}

TEST(I2cDevBackend, MapsBusPathsOntoKernelDeviceNames) {
  EXPECT_EQ(Mapped("/dev/i2c5"), "/dev/i2c-5");
  EXPECT_EQ(Mapped("/dev/i2c1234567"), "/dev/i2c-1234567");
  // Not a plain bus number: used as given.
  EXPECT_EQ(Mapped("/dev/i2c-1"), "/dev/i2c-1");
  EXPECT_EQ(Mapped("/dev/i2c"), "/dev/i2c");
  EXPECT_EQ(Mapped("/dev/i2c5x"), "/dev/i2c5x");
  EXPECT_EQ(Mapped(""), "");
}

TEST(I2cDevBackend, BusPathThatExistsIsUsedAsGiven) {
  // A board whose bus devices are named without the hyphen keeps its own names.
  const std::string path = "/dev/i2c" + std::to_string(900000 + getpid() % 99999);
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) GTEST_SKIP() << "cannot create " << path;
  std::fclose(file);
  EXPECT_EQ(Mapped(path.c_str()), path);
  std::remove(path.c_str());
}

TEST(I2cDevBackend, MappedPathThatDoesNotFitIsRefused) {
  char out[10];
  EXPECT_EQ(board_i2c::MapDevicePath("/dev/i2c5", out, sizeof(out)), -ENAMETOOLONG);
}

TEST(I2cDevBackend, AddressIsTakenAsSevenBit) {
  EXPECT_EQ(board_i2c::KernelAddress(0x40), 0x40);
  EXPECT_EQ(board_i2c::KernelAddress(0x7F), 0x7F);
  EXPECT_EQ(board_i2c::KernelAddress(0x80), -EINVAL);
  EXPECT_EQ(board_i2c::KernelAddress(0xFF), -EINVAL);
}

TEST(I2cDevBackend, BuildsOneMessagePerDirection) {
  uint8_t out[4] = {0xE0, 0, 0, 0};
  uint8_t in[16] = {};
  i2c_msg messages[2] = {};

  ASSERT_EQ(board_i2c::BuildMessages(0x40, out, 4, in, 16, messages), 2);
  EXPECT_EQ(messages[0].addr, 0x40);
  EXPECT_EQ(messages[0].flags, 0);
  EXPECT_EQ(messages[0].len, 4);
  EXPECT_EQ(messages[0].buf, out);
  EXPECT_EQ(messages[1].addr, 0x40);
  EXPECT_EQ(messages[1].flags, I2C_M_RD);
  EXPECT_EQ(messages[1].len, 16);
  EXPECT_EQ(messages[1].buf, in);

  ASSERT_EQ(board_i2c::BuildMessages(0x40, out, 3, nullptr, 0, messages), 1);
  EXPECT_EQ(messages[0].flags, 0);
  EXPECT_EQ(messages[0].len, 3);

  ASSERT_EQ(board_i2c::BuildMessages(0x40, nullptr, 0, in, 2, messages), 1);
  EXPECT_EQ(messages[0].flags, I2C_M_RD);
  EXPECT_EQ(messages[0].len, 2);
}

TEST(I2cDevBackend, RefusesLengthsAndBuffersItCannotSend) {
  uint8_t buffer[4] = {};
  i2c_msg messages[2];
  EXPECT_EQ(board_i2c::BuildMessages(0x40, buffer, -1, nullptr, 0, messages), -EINVAL);
  EXPECT_EQ(board_i2c::BuildMessages(0x40, buffer, 4, buffer, -4, messages), -EINVAL);
  EXPECT_EQ(board_i2c::BuildMessages(0x40, buffer, 0x10000, nullptr, 0, messages), -EINVAL);
  EXPECT_EQ(board_i2c::BuildMessages(0x40, nullptr, 0, nullptr, 0, messages), -EINVAL);
  EXPECT_EQ(board_i2c::BuildMessages(0x40, nullptr, 4, nullptr, 0, messages), -EINVAL);
  EXPECT_EQ(board_i2c::BuildMessages(0x40, buffer, 4, nullptr, 4, messages), -EINVAL);
}

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

TEST(I2cDevBackend, MissingBusFailsNegativeAndLeavesNoDescriptorOpen) {
  const int before = OpenDescriptors();
  uint8_t command[4] = {0xE0, 0, 0, 0};
  uint8_t answer[4];
  EXPECT_EQ(i2c_master_write("/dev/i2c987654", 0x40, command, 4), -ENOENT);
  EXPECT_EQ(i2c_master_read("/dev/i2c987654", 0x40, answer, 4), -ENOENT);
  EXPECT_EQ(i2c_writeread("/dev/i2c987654", 0x40, command, answer, 4, 4), -ENOENT);
  EXPECT_LT(i2c_writeread("", 0, command, answer, 4, 4), 0);
  EXPECT_LT(i2c_writeread(nullptr, 0x40, command, answer, 4, 4), 0);
  EXPECT_EQ(i2c_writeread("/dev/i2c5", 0x80, command, answer, 4, 4), -EINVAL);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(I2cDevBackend, DeviceThatIsNotAnI2cAdapterFailsNegative) {
  const int before = OpenDescriptors();
  uint8_t command[4] = {0xE0, 0, 0, 0};
  uint8_t answer[4];
  // /dev/null opens but refuses the I2C ioctl.
  EXPECT_LT(i2c_writeread("/dev/null", 0x40, command, answer, 4, 4), 0);
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
