#include "i2c_dev_backend.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace board_i2c {

namespace {

constexpr char kBusPrefix[] = "/dev/i2c";
constexpr std::size_t kBusPrefixLength = sizeof(kBusPrefix) - 1;
constexpr int kMaxMessageLength = 0xFFFF;  // i2c_msg::len is 16 bits

bool AllDigits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

bool LengthValid(int length) { return length >= 0 && length <= kMaxMessageLength; }

}  // namespace

int MapDevicePath(const char* path, char* out, std::size_t size) {
  int written;
  if (access(path, F_OK) != 0 && std::strncmp(path, kBusPrefix, kBusPrefixLength) == 0 &&
      AllDigits(path + kBusPrefixLength)) {
    written = std::snprintf(out, size, "%s-%s", kBusPrefix, path + kBusPrefixLength);
  } else {
    written = std::snprintf(out, size, "%s", path);
  }
  if (written < 0 || static_cast<std::size_t>(written) >= size) return -ENAMETOOLONG;
  return 0;
}

int KernelAddress(uint8_t address) { return address <= 0x7F ? address : -EINVAL; }

int BuildMessages(uint16_t address, const uint8_t* write_data, int write_length, uint8_t* read_data,
                  int read_length, i2c_msg messages[2]) {
  if (!LengthValid(write_length) || !LengthValid(read_length)) return -EINVAL;
  if (write_length == 0 && read_length == 0) return -EINVAL;
  if ((write_length > 0 && write_data == nullptr) || (read_length > 0 && read_data == nullptr)) {
    return -EINVAL;
  }
  int count = 0;
  if (write_length > 0) {
    messages[count++] = i2c_msg{address, 0, static_cast<uint16_t>(write_length),
                                const_cast<uint8_t*>(write_data)};
  }
  if (read_length > 0) {
    messages[count++] = i2c_msg{address, I2C_M_RD, static_cast<uint16_t>(read_length), read_data};
  }
  return count;
}

int Transfer(const char* device, uint8_t address, const uint8_t* write_data, int write_length,
             uint8_t* read_data, int read_length) {
  if (device == nullptr) return -EINVAL;
  const int kernel_address = KernelAddress(address);
  if (kernel_address < 0) return kernel_address;

  i2c_msg messages[2];
  const int count = BuildMessages(static_cast<uint16_t>(kernel_address), write_data, write_length,
                                  read_data, read_length, messages);
  if (count < 0) return count;

  char path[64];
  const int mapped = MapDevicePath(device, path, sizeof(path));
  if (mapped < 0) return mapped;

  const int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return -errno;
  i2c_rdwr_ioctl_data request{messages, static_cast<uint32_t>(count)};
  const int result = ioctl(fd, I2C_RDWR, &request);
  const int saved_errno = errno;
  close(fd);
  if (result < 0) return saved_errno != 0 ? -saved_errno : -EIO;
  return write_length + read_length;
}

}  // namespace board_i2c
