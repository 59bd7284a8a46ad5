// Decoding the status register into yes/no answers, with the reports that go with them.
#include <gtest/gtest.h>

#include <string>

#include "fake_i2c.h"
#include "fusekit.h"
#include "output_capture.h"

namespace {

using Decoder = int (*)(uint8_t*);

struct DecoderCase {
  const char* name;
  Decoder decode;
  std::vector<uint8_t> status;  // as the device sends it, most significant byte first
  uint8_t answer;
  const char* report;  // nullptr: silent
};

class StatusDecoders : public testing::TestWithParam<DecoderCase> {};

TEST_P(StatusDecoders, AnswerAndReport) {
  const DecoderCase& c = GetParam();
  InitCPLDDevice(5, 0x40);
  fake_i2c::Reset();
  fake_i2c::Queue({4, c.status});
  uint8_t answer = 0xEE;
  output_capture::StartStderr();
  EXPECT_EQ(c.decode(&answer), 0);
  const auto lines = output_capture::DiagnosticTexts(output_capture::TakeStderr(), "cpld");
  EXPECT_EQ(answer, c.answer);
  if (c.report == nullptr) {
    EXPECT_TRUE(lines.empty());
  } else {
    EXPECT_EQ(lines, std::vector<std::string>{c.report});
  }
  ASSERT_EQ(fake_i2c::Log().size(), 1u);
  EXPECT_EQ(fake_i2c::Log()[0].written, (std::vector<uint8_t>{0x3C, 0, 0, 0}));
}

const DecoderCase kCases[] = {
    // IsFail: busy counts as failed and is reported.
    {"fail_busy", IsFail, {0, 0, 0x10, 0}, 1, "Busy flag is assert when check fail flag"},
    {"fail_busy_and_fail", IsFail, {0, 0, 0x30, 0}, 1, "Busy flag is assert when check fail flag"},
    {"fail_fail", IsFail, {0, 0, 0x20, 0}, 1, nullptr},
    {"fail_clear", IsFail, {0, 0, 0, 0}, 0, nullptr},
    {"fail_other_bits", IsFail, {0xFF, 0xFF, 0xCF, 0xFF}, 0, nullptr},
    // HasPasswordProtected: bit 5.
    {"key_set", HasPasswordProtected, {0, 0, 0, 0x20}, 1, nullptr},
    {"key_clear", HasPasswordProtected, {0xFF, 0xFF, 0xFF, 0xDF}, 0, nullptr},
    // IsEnableOTP: bit 6 or bit 17.
    {"otp_bit17", IsEnableOTP, {0, 0x02, 0, 0}, 1, nullptr},
    {"otp_bit6", IsEnableOTP, {0, 0, 0, 0x40}, 1, nullptr},
    {"otp_clear", IsEnableOTP, {0, 0, 0, 0x20}, 0, nullptr},
    // IsDone: done only while neither busy nor fail.
    {"done_busy", IsDone, {0, 0, 0x11, 0}, 0, "Busy flag is assert when check done flag"},
    {"done_fail", IsDone, {0, 0, 0x21, 0}, 0, "Fail flag is assert when check done flag"},
    {"done_set", IsDone, {0, 0, 0x01, 0}, 1, nullptr},
    {"done_clear", IsDone, {0, 0, 0, 0}, 0, nullptr},
    // IsRefreshSuccessful: done, not busy, refresh error field (bits 23-25) zero; fail ignored.
    {"refresh_busy", IsRefreshSuccessful, {0, 0, 0x11, 0}, 0,
     "Busy flag is assert when check refresh is successful"},
    {"refresh_not_done", IsRefreshSuccessful, {0, 0, 0, 0}, 0,
     "Done flag is deassert when check refresh is successful"},
    {"refresh_fail_and_done", IsRefreshSuccessful, {0, 0, 0x21, 0}, 1, nullptr},
    {"refresh_error_bit23", IsRefreshSuccessful, {0, 0x80, 0x01, 0}, 0, nullptr},
    {"refresh_error_bit25", IsRefreshSuccessful, {0x02, 0, 0x01, 0}, 0, nullptr},
    {"refresh_bit26_outside_field", IsRefreshSuccessful, {0x04, 0, 0x01, 0}, 1, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Table, StatusDecoders, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<DecoderCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(StatusDecodersFailedRead, PresetAnswerStaysAndTwoLinesAreWritten) {
  const struct {
    Decoder decode;
    uint8_t left;
  } cases[] = {{IsFail, 1}, {IsEnableOTP, 1}, {IsDone, 0}, {IsRefreshSuccessful, 0},
               {HasPasswordProtected, 0x5A}};  // untouched: still the caller's 0x5A
  InitCPLDDevice(5, 0x40);
  for (const auto& c : cases) {
    fake_i2c::Reset();
    fake_i2c::Queue({-121, {0, 0, 0, 0}});
    uint8_t answer = 0x5A;
    output_capture::StartStderr();
    EXPECT_EQ(c.decode(&answer), -121);
    EXPECT_EQ(output_capture::DiagnosticTexts(output_capture::TakeStderr(), "cpld"),
              (std::vector<std::string>{"I2C bus IO error, code: 0xffffff87",
                                        "Fail to read status register"}));
    EXPECT_EQ(answer, c.left);
  }
}

}  // namespace
