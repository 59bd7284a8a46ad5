// Binding, the bus primitives, the transfer routine and the byte reversal.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cpld_internal.h"
#include "fake_i2c.h"
#include "fusekit.h"
#include "output_capture.h"

namespace {

using fake_i2c::Call;

// Runs first in a fresh process: nothing has been bound yet.
TEST(Unbound, TransferPassesEmptyPathAndAddressZero) {
  fake_i2c::Reset();
  const uint8_t byte = 0xAA;
  EXPECT_EQ(I2CMasterWrite(&byte, 1), 0);
  ASSERT_EQ(fake_i2c::Log().size(), 1u);
  EXPECT_EQ(fake_i2c::Log()[0].device, "");
  EXPECT_EQ(fake_i2c::Log()[0].address, 0);
}

struct BindingCase {
  int bus;
  int address;
  const char* path;
  uint8_t bound_address;
};

class Binding : public testing::TestWithParam<BindingCase> {};

TEST_P(Binding, FormatsPathAndKeepsLowAddressByte) {
  const BindingCase& c = GetParam();
  fake_i2c::Reset();
  output_capture::StartStderr();
  EXPECT_EQ(InitI2CDriver(c.bus, c.address), 0);
  EXPECT_EQ(InitCPLDDevice(c.bus, c.address), 0);
  const uint8_t byte = 0;
  I2CMasterWrite(&byte, 1);
  EXPECT_EQ(output_capture::TakeStderr(), "");
  ASSERT_EQ(fake_i2c::Log().size(), 1u);
  EXPECT_EQ(fake_i2c::Log()[0].device, c.path);
  EXPECT_EQ(fake_i2c::Log()[0].address, c.bound_address);
}

INSTANTIATE_TEST_SUITE_P(Cases, Binding,
                         testing::Values(BindingCase{5, 0x40, "/dev/i2c5", 0x40},
                                         BindingCase{-1, 0x40, "/dev/i2c-1", 0x40},
                                         BindingCase{123456789, 0x40, "/dev/i2c1234567", 0x40},
                                         BindingCase{-2147483647 - 1, 0x10, "/dev/i2c-214748", 0x10},
                                         BindingCase{0, 0x140, "/dev/i2c0", 0x40}));

TEST(Binding, RebindingReplacesPathAndAddressForLaterTransfers) {
  fake_i2c::Reset();
  InitCPLDDevice(5, 0x40);
  uint8_t answer[4];
  const uint8_t command[4] = {1, 2, 3, 4};
  I2CRestarRead(command, answer, 4, 4);
  InitI2CDriver(7, 0x22);
  I2CRestarRead(command, answer, 4, 4);
  I2CMasterRead(answer, 2);
  ASSERT_EQ(fake_i2c::Log().size(), 3u);
  EXPECT_EQ(fake_i2c::Log()[0].device, "/dev/i2c5");
  EXPECT_EQ(fake_i2c::Log()[0].address, 0x40);
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(fake_i2c::Log()[i].device, "/dev/i2c7");
    EXPECT_EQ(fake_i2c::Log()[i].address, 0x22);
  }
}

TEST(BusPrimitives, PassBuffersAndResultsThroughUnchanged) {
  InitCPLDDevice(5, 0x40);
  fake_i2c::Reset();
  fake_i2c::Queue({7, {}});
  fake_i2c::Queue({3, {0x11, 0x22, 0x33}});
  fake_i2c::Queue({-5, {}});
  output_capture::StartStderr();
  const uint8_t out[2] = {0xDE, 0xAD};
  uint8_t in[3] = {};
  EXPECT_EQ(I2CMasterWrite(out, 2), 7);
  EXPECT_EQ(I2CMasterRead(in, 3), 3);
  EXPECT_EQ(I2CRestarRead(out, in, 2, 3), -5);
  EXPECT_EQ(output_capture::TakeStderr(), "") << "the primitives report nothing";

  const auto& log = fake_i2c::Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].call, Call::kWrite);
  EXPECT_EQ(log[0].written, (std::vector<uint8_t>{0xDE, 0xAD}));
  EXPECT_EQ(log[1].call, Call::kRead);
  EXPECT_EQ(log[1].read_length, 3);
  EXPECT_EQ(in[0], 0x11);
  EXPECT_EQ(in[2], 0x33);
  EXPECT_EQ(log[2].call, Call::kWriteRead);
  EXPECT_EQ(log[2].written, (std::vector<uint8_t>{0xDE, 0xAD}));
  EXPECT_EQ(log[2].read_length, 3);
}

int routine_result;
int StubRoutine(const uint8_t*, uint8_t*, int, int) { return routine_result; }

TEST(CommandTransfer, TurnsSuccessIntoZeroAndReportsFailureOnce) {
  for (int success : {4, 0}) {
    routine_result = success;
    output_capture::StartStderr();
    EXPECT_EQ(CommandTransfer(StubRoutine, nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(output_capture::TakeStderr(), "");
  }
  routine_result = -121;
  output_capture::StartStderr();
  EXPECT_EQ(CommandTransfer(StubRoutine, nullptr, nullptr, 0, 0), -121);
  const std::string err = output_capture::TakeStderr();
  EXPECT_EQ(output_capture::DiagnosticTexts(err, "cpld"),
            std::vector<std::string>{"I2C bus IO error, code: 0xffffff87"});
}

TEST(CommandTransfer, WriteOnlyTransferSendsTheWriteBufferAlone) {
  InitCPLDDevice(5, 0x40);
  fake_i2c::Reset();
  fake_i2c::Queue({9, {}});
  const uint8_t command[3] = {0x74, 0x08, 0x00};
  EXPECT_EQ(WriteOnlyTransfer(command, nullptr, 3, 0), 9);
  ASSERT_EQ(fake_i2c::Log().size(), 1u);
  EXPECT_EQ(fake_i2c::Log()[0].call, Call::kWrite);
  EXPECT_EQ(fake_i2c::Log()[0].written, (std::vector<uint8_t>{0x74, 0x08, 0x00}));
}

TEST(SwapBytes, ReversesTwoFourAndEightBytes) {
  uint8_t two[2] = {1, 2};
  uint8_t four[4] = {1, 2, 3, 4};
  uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  SwapBytes(two, 2);
  SwapBytes(four, 4);
  SwapBytes(eight, 8);
  EXPECT_EQ(std::vector<uint8_t>(two, two + 2), (std::vector<uint8_t>{2, 1}));
  EXPECT_EQ(std::vector<uint8_t>(four, four + 4), (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(std::vector<uint8_t>(eight, eight + 8), (std::vector<uint8_t>{8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(SwapBytes, OtherSizesAreReportedAndLeftAlone) {
  for (int size : {0, 1, 3, 16}) {
    uint8_t bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    output_capture::StartStderr();
    SwapBytes(bytes, size);
    EXPECT_EQ(output_capture::DiagnosticTexts(output_capture::TakeStderr(), "cpld"),
              std::vector<std::string>{"size " + std::to_string(size) + " is not basic data type"});
    for (int i = 0; i < 16; ++i) EXPECT_EQ(bytes[i], i + 1);
  }
}

}  // namespace
