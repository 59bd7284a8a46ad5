// Waiting for the device and checking command outcomes, on a scripted bus: the exact number of
// polls and sleeps, the timeout flag and the result each outcome turns into.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_i2c.h"
#include "fusekit.h"
#include "isp_internal.h"
#include "output_capture.h"
#include "virtual_clock.h"

namespace {

using output_capture::DiagnosticLines;
using output_capture::DiagnosticLinesOf;

using Lines = std::vector<std::string>;
using Delays = std::vector<uint64_t>;

constexpr int kPollBudget = 15000;
const fake_i2c::Reply kBusy{1, {0x80}};
const fake_i2c::Reply kReady{1, {0x7F}};  // every bit but the busy bit
const fake_i2c::Reply kBusFailure{-121, {}};
const fake_i2c::Reply kStatusClear{4, {0, 0, 0, 0}};

class Readiness : public testing::Test {
 protected:
  void SetUp() override {
    InitCPLDDevice(5, 0x40);
    fake_i2c::Reset();
    virtual_clock::Reset();
  }
  static void QueueBusy(int times) {
    for (int i = 0; i < times; ++i) fake_i2c::Queue(kBusy);
  }
  // Every transfer must be a busy poll, F0 00 00 00 reading one byte.
  static void ExpectOnlyPolls(size_t count) {
    ASSERT_EQ(fake_i2c::Log().size(), count);
    for (const fake_i2c::Transfer& transfer : fake_i2c::Log()) {
      ASSERT_EQ(transfer.written, (std::vector<uint8_t>{0xF0, 0, 0, 0}));
      ASSERT_EQ(transfer.read_length, 1);
    }
  }
};

TEST_F(Readiness, WaitPollsUntilReadySleeping1msAfterEachBusyAnswer) {
  for (const int busy_answers : {0, 1, 3, kPollBudget - 1}) {
    SCOPED_TRACE(busy_answers);
    SetUp();
    QueueBusy(busy_answers);
    fake_i2c::Queue(kReady);
    uint8_t timeout = 1;
    output_capture::StartStderr();
    EXPECT_EQ(WaitDeviceReady(&timeout), 0);
    EXPECT_EQ(output_capture::TakeStderr(), "");
    EXPECT_EQ(timeout, 0);
    ExpectOnlyPolls(busy_answers + 1);
    EXPECT_EQ(virtual_clock::Delays(), Delays(busy_answers, 1000));
  }
}

TEST_F(Readiness, WaitGivesUpAfter15000BusyPolls) {
  QueueBusy(kPollBudget);
  fake_i2c::Queue(kReady);  // never asked for
  uint8_t timeout = 0;
  output_capture::StartStderr();
  EXPECT_EQ(WaitDeviceReady(&timeout), 0);
  EXPECT_EQ(DiagnosticLines(output_capture::TakeStderr()),
            Lines{"isp: Timeout in waitting device ready..."});
  EXPECT_EQ(timeout, 1);
  ExpectOnlyPolls(kPollBudget);
  EXPECT_EQ(virtual_clock::Delays(), Delays(kPollBudget, 1000));
}

TEST_F(Readiness, WaitEndsAtOnceWithTheBusErrorOfAFailedPoll) {
  QueueBusy(2);
  fake_i2c::Queue(kBusFailure);
  uint8_t timeout = 1;
  output_capture::StartStderr();
  EXPECT_EQ(WaitDeviceReady(&timeout), -121);
  EXPECT_EQ(DiagnosticLines(output_capture::TakeStderr()),
            (Lines{"cpld: I2C bus IO error, code: 0xffffff87", "isp: Fail to check device busy"}));
  EXPECT_EQ(timeout, 0);
  ExpectOnlyPolls(3);
  EXPECT_EQ(virtual_clock::Delays(), Delays(2, 1000));
}

// WaitAndCheckResult: the outcome of the wait and of the fail flag, as result and lines.
struct CheckCase {
  const char* name;
  std::vector<fake_i2c::Reply> replies;  // after `busy_answers` busy polls
  int busy_answers;
  int result;
  Lines lines;
};

TEST_F(Readiness, CheckResultTurnsEachOutcomeIntoItsCode) {
  const CheckCase cases[] = {
      {"ready_and_clear", {kReady, kStatusClear}, 2, 0, {}},
      {"other_status_bits_ignored", {kReady, {4, {0xFF, 0xFF, 0xCF, 0xFF}}}, 0, 0, {}},
      {"poll_fails", {kBusFailure}, 1, ERR_CHECK_READY,
       {"cpld: I2C bus IO error, code: 0xffffff87", "isp: Fail to check device busy"}},
      {"timeout", {}, kPollBudget, ERR_TIMEOUT, {"isp: Timeout in waitting device ready..."}},
      {"status_read_fails", {kReady, {-5, {}}}, 0, ERR_CHECK_RESULT,
       {"cpld: I2C bus IO error, code: 0xfffffffb", "cpld: Fail to read status register",
        "isp: Fail to check command result"}},
      {"fail_flag", {kReady, {4, {0, 0, 0x20, 0}}}, 0, ERR_RESULT_FAIL,
       {"isp: The result of command is fail"}},
      {"busy_flag", {kReady, {4, {0, 0, 0x10, 0}}}, 0, ERR_RESULT_FAIL,
       {"cpld: Busy flag is assert when check fail flag", "isp: The result of command is fail"}},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    QueueBusy(c.busy_answers);
    for (const fake_i2c::Reply& reply : c.replies) fake_i2c::Queue(reply);
    output_capture::StartStderr();
    EXPECT_EQ(WaitAndCheckResult(), c.result);
    EXPECT_EQ(DiagnosticLines(output_capture::TakeStderr()), c.lines);
    EXPECT_EQ(virtual_clock::Delays(), Delays(c.busy_answers, 1000));
  }
}

TEST_F(Readiness, ProgramPageSendsTheRowWaits200usThenPolls) {
  uint8_t row[ISP_ROW_SIZE];
  for (int i = 0; i < ISP_ROW_SIZE; ++i) row[i] = static_cast<uint8_t>(0xA0 + i);
  fake_i2c::Queue({20, {}});
  QueueBusy(2);
  fake_i2c::Queue(kReady);
  EXPECT_EQ(ProgramPageAndWait(row), 0);
  ASSERT_EQ(fake_i2c::Log().size(), 4u);
  std::vector<uint8_t> command = {0x70, 0, 0, 0};
  command.insert(command.end(), row, row + ISP_ROW_SIZE);
  EXPECT_EQ(fake_i2c::Log()[0].call, fake_i2c::Call::kWrite);
  EXPECT_EQ(fake_i2c::Log()[0].written, command);
  EXPECT_EQ(fake_i2c::Log()[3].written, (std::vector<uint8_t>{0xF0, 0, 0, 0}));
  EXPECT_EQ(virtual_clock::Delays(), (Delays{200, 1000, 1000}));
}

TEST_F(Readiness, ProgramPageFailures) {
  const uint8_t row[ISP_ROW_SIZE] = {};
  struct Case {
    const char* name;
    std::vector<fake_i2c::Reply> replies;  // the row command first
    int busy_answers;                      // after the row command's reply
    int result;
    Lines isp_lines;
    size_t transfers;
    Delays delays;
  } const cases[] = {
      // The row itself is refused: no sleep and no poll.
      {"row_refused", {kBusFailure}, 0, ERR_PROGRAM_PAGE, {"isp: Fail to program page"}, 1, {}},
      // Sent, but the device never gets ready: a timeout, not a failed row.
      {"never_ready", {{20, {}}}, kPollBudget, ERR_TIMEOUT,
       {"isp: Timeout in waitting device ready..."}, 1 + kPollBudget,
       [] {
         Delays d{200};
         d.insert(d.end(), kPollBudget, 1000);
         return d;
       }()},
      {"poll_fails", {{20, {}}, kBusy, kBusFailure}, 0, ERR_CHECK_READY,
       {"isp: Fail to check device busy"}, 3, {200, 1000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    for (const fake_i2c::Reply& reply : c.replies) fake_i2c::Queue(reply);
    QueueBusy(c.busy_answers);
    output_capture::StartStderr();
    EXPECT_EQ(ProgramPageAndWait(row), c.result);
    EXPECT_EQ(DiagnosticLinesOf(output_capture::TakeStderr(), "isp"), c.isp_lines);
    EXPECT_EQ(fake_i2c::Log().size(), c.transfers);
    EXPECT_EQ(virtual_clock::Delays(), c.delays);
  }
}

}  // namespace
