// The complete programming sequence against the simulated device: command order, delays,
// progress, every failure with and without the clean-up, and the refresh retries.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "blank_device.h"
#include "fusekit.h"
#include "output_capture.h"
#include "sim_device.h"
#include "temp_dir.h"
#include "update_sequence.h"
#include "virtual_clock.h"

namespace {

using output_capture::DiagnosticLines;
using output_capture::DiagnosticLinesOf;

using Lines = std::vector<std::string>;
using Delays = std::vector<uint64_t>;
using update_sequence::MakeImage;
namespace op = update_sequence::op;

constexpr uint32_t kPollBudget = 15000;
constexpr uint64_t kSecond = 1000000;

// Which busy poll follows which command in a run on a device that is never busy.
constexpr uint64_t kPollAfterTransparent = 1;
constexpr uint64_t kPollAfterErase = 2;
constexpr uint64_t PollAfterCfRow(int row) { return 3 + row; }
constexpr uint64_t kPollAfterUsercode = 3 + ISP_CF_ROW_COUNT;
constexpr uint64_t PollAfterUfmRow(int row) { return kPollAfterUsercode + 1 + row; }
constexpr uint64_t kPollAfterDone = PollAfterUfmRow(ISP_UFM_ROW_COUNT);
// Which status read serves which check.
constexpr uint64_t kStatusKey = 1, kStatusAfterTransparent = 2, kStatusOtp = 3, kStatusKeyAgain = 4,
                   kStatusAfterErase = 5, kStatusAfterUsercode = 6, kStatusBeforeDone = 7,
                   kStatusDone = 8, kStatusRefresh = 9;

sim::TransferFault FailTransfer(uint8_t opcode, uint64_t occurrence) {
  sim::TransferFault fault;
  fault.opcode = opcode;
  fault.occurrence = occurrence;
  fault.code = -EIO;
  return fault;
}

// The device stays busy for the whole poll budget after the command.
sim::BusyFault BusyForPollBudget(uint8_t opcode, uint64_t occurrence) {
  return sim::BusyFault{opcode, occurrence, kPollBudget};
}

std::vector<std::string> WithPrefix(const char* module, const Lines& texts) {
  Lines lines;
  for (const std::string& text : texts) lines.push_back(std::string(module) + ": " + text);
  return lines;
}

class IspFull : public testing::Test {
 protected:
  void SetUp() override {
    InitCPLDDevice(5, 0x40);
    virtual_clock::Reset();
    ASSERT_EQ(InitUpdateProgress(progress_path_.c_str(), 1), 0);
    ASSERT_EQ(ResetProgress(), 0);
  }
  void TearDown() override { sim::Attach(nullptr); }

  // A device that accepts the image: the right ID, matching FEABITS, on bus 5 at 0x40.
  sim::Config GoodDevice() const {
    sim::Config config;
    config.feabits = image_->feabits;
    config.device_path = "/dev/i2c5";
    config.slave_address = 0x40;
    return config;
  }

  struct Outcome {
    int result;
    std::string out;
    std::string err;
  };
  Outcome Run(sim::Device* device, const char* progress_path) {
    sim::Attach(device);
    output_capture::StartStdout();
    output_capture::StartStderr();
    const int result = ISPFull(image_.get(), progress_path);
    Outcome outcome{result, "", ""};
    outcome.err = output_capture::TakeStderr();
    outcome.out = output_capture::TakeStdout();
    sim::Attach(nullptr);
    return outcome;
  }
  Outcome Run(sim::Device* device) { return Run(device, progress_path_.c_str()); }

  // Checks that the progress module has counted exactly `expected` steps since its last reset,
  // by two more steps over a total of 2 * (expected + 2): only a count of `expected` shows less
  // than 50 percent after the first and exactly 50 after the second. Changes the count.
  void ExpectStepsTaken(uint32_t expected) {
    ASSERT_EQ(InitUpdateProgress(progress_path_.c_str(), 2 * (expected + 2)), 0);
    ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
    const int first = std::stoi(FileText(progress_path_));
    ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
    const int second = std::stoi(FileText(progress_path_));
    EXPECT_TRUE(first < 50 && second == 50)
        << "expected " << expected << " steps; the probes show " << first << " and " << second;
  }

  std::unique_ptr<IspInfo> image_ = MakeImage();
  TempDir dir_;
  std::string progress_path_ = dir_.File("progress");
};

TEST_F(IspFull, SuccessfulRun) {
  sim::Config config = GoodDevice();
  config.record_transcript = true;
  sim::Device device(config);
  const Outcome outcome = Run(&device);

  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  const sim::Comparison comparison = sim::Compare(device.state(), *image_);
  EXPECT_TRUE(comparison.Matches()) << "first CF mismatch " << comparison.first_cf_mismatch
                                    << ", first UFM mismatch " << comparison.first_ufm_mismatch;
  EXPECT_TRUE(device.state().done);
  EXPECT_FALSE(device.state().transparent);

  // Every command, in order, and nothing else.
  std::vector<uint8_t> expected_opcodes;
  for (const auto& transfer : update_sequence::CompleteUpdate()) {
    expected_opcodes.push_back(transfer.opcode);
  }
  std::vector<uint8_t> opcodes;
  for (const sim::TranscriptEntry& entry : device.transcript()) {
    opcodes.push_back(entry.out[0]);
    ASSERT_GE(entry.result, 0) << sim::Describe(entry);
  }
  EXPECT_EQ(opcodes, expected_opcodes);
  EXPECT_EQ(device.counters().refused, 0u);
  EXPECT_EQ(device.counters().rejected_operations, 0u);

  // The fixed delays, in order: about 5.79 s in all.
  Delays delays{1000, 10000, 1000};
  delays.insert(delays.end(), ISP_CF_ROW_COUNT, 200);
  delays.insert(delays.end(), {10000, kSecond, 1000});
  delays.insert(delays.end(), ISP_UFM_ROW_COUNT, 200);
  delays.insert(delays.end(), {kSecond, kSecond, kSecond, kSecond});
  EXPECT_EQ(virtual_clock::Delays(), delays);
  EXPECT_EQ(virtual_clock_now_us(), 5790600u);

  // 7676 steps, the last ones showing 99; no 100.
  EXPECT_EQ(FileText(progress_path_), "99");
  ExpectStepsTaken(7676);
}

TEST_F(IspFull, ASecondRunCountsOnFromTheFirst) {
  sim::Device device(GoodDevice());
  ASSERT_EQ(Run(&device).result, 0);
  EXPECT_EQ(FileText(progress_path_), "99");
  // A second run counts on from the first: 7676 more steps over the same total stay at 99.
  sim::Device second(GoodDevice());
  ASSERT_EQ(Run(&second).result, 0);
  ExpectStepsTaken(2 * 7676);
}

TEST_F(IspFull, NullRecord) {
  sim::Device device(GoodDevice());
  sim::Attach(&device);
  ASSERT_EQ(InitUpdateProgress(progress_path_.c_str(), 4), 0);
  const std::string other_path = dir_.File("other");
  output_capture::StartStderr();
  EXPECT_EQ(ISPFull(nullptr, other_path.c_str()), -1);
  EXPECT_EQ(DiagnosticLines(output_capture::TakeStderr()), Lines{"isp: p_isp_info is NULL"});
  EXPECT_EQ(device.counters().transfers, 0u);
  // The progress module keeps its path and total: one step of 4 shows 25 in the old file.
  ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
  EXPECT_EQ(FileText(progress_path_), "25");
  EXPECT_EQ(FileText(other_path), "<missing>");
}

TEST(PrintISPInfo, ReportsOnlyANullRecord) {
  const auto image = MakeImage();
  output_capture::StartStderr();
  output_capture::StartStdout();
  PrintISPInfo(image.get());
  EXPECT_EQ(output_capture::TakeStdout(), "");
  EXPECT_EQ(output_capture::TakeStderr(), "");
  output_capture::StartStderr();
  PrintISPInfo(nullptr);
  EXPECT_EQ(DiagnosticLines(output_capture::TakeStderr()), Lines{"isp: p_isp_info is NULL"});
}

// One failing step: the code it returns, whether the clean-up follows, and the lines of the
// sequence itself (module isp), in order.
struct FailureCase {
  const char* name;
  std::function<void(sim::Config&, sim::Faults&)> arrange;
  int result;
  bool clean_up;
  Lines isp_lines;
};

const std::vector<FailureCase>& FailureCases() {
  using sim::Config;
  using sim::Faults;
  static const std::vector<FailureCase> cases = {
      // ---- Checks: returned at once --------------------------------------------------------
      {"device_id_read_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kDeviceId, 1)); },
       ERR_CHECK_DEVICE_ID, false, {"Fail to check device ID match"}},
      {"device_id_one_bit_off", [](Config& c, Faults&) { c.device_id = 0x012BB042; },
       ERR_DEVICE_ID_MISMATCH, false, {"Device ID doesn't match"}},
      {"key_read_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kStatus, kStatusKey)); },
       ERR_CHECK_PASSWORD, false, {"Fail to check password protect"}},
      {"key_protected", [](Config& c, Faults&) { c.key_protection = true; }, ERR_KEY_PROTECTED,
       false, {"Device has key protection"}},
      {"transparent_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kTransparent, 1)); },
       ERR_ENABLE_TRANSPARENT, false, {"Fail to enable transparent mode"}},
      {"transparent_poll_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kBusy, kPollAfterTransparent));
       },
       ERR_CHECK_READY, false, {"Fail to check device busy"}},
      {"transparent_timeout",
       [](Config&, Faults& f) { f.busy.push_back(BusyForPollBudget(op::kTransparent, 1)); },
       ERR_TIMEOUT, false, {"Timeout in waitting device ready..."}},
      {"transparent_result_read_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kStatus, kStatusAfterTransparent));
       },
       ERR_CHECK_RESULT, false, {"Fail to check command result"}},
      {"transparent_result_fail",
       [](Config&, Faults& f) { f.status.push_back({sim::status::kFail, op::kTransparent, 1}); },
       ERR_RESULT_FAIL, false, {"The result of command is fail"}},
      {"otp_read_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kStatus, kStatusOtp)); },
       ERR_CHECK_OTP, false, {"Fail to check enable OTP"}},
      {"otp_enabled", [](Config& c, Faults&) { c.otp = true; }, ERR_OTP_ENABLED, false,
       {"Device is enable OTP"}},
      {"second_key_read_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kStatus, kStatusKeyAgain));
       },
       ERR_CHECK_PASSWORD, false, {"Fail to check password protect"}},
      {"key_protected_after_transparent",
       [](Config&, Faults& f) {
         f.status.push_back({sim::status::kKeyProtection, op::kTransparent, 1});
       },
       ERR_KEY_PROTECTED, false, {"Device has key protection"}},
      {"feabits_read_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kFeabits, 1)); },
       ERR_VERIFY_FEABITS, false, {"Fail to read FEABITS", "Fail to verify FEABITS"}},
      {"feabits_differ", [](Config& c, Faults&) { c.feabits ^= 0x0002; }, ERR_FEABITS_MISMATCH,
       false, {"FEABITS doesn't match"}},
      {"erase_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kErase, 1)); }, ERR_ERASE,
       false, {"Fail to erase CF and UFM"}},
      {"erase_poll_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kBusy, kPollAfterErase)); },
       ERR_CHECK_READY, false, {"Fail to check device busy"}},
      {"erase_timeout",
       [](Config&, Faults& f) { f.busy.push_back(BusyForPollBudget(op::kErase, 1)); },
       ERR_TIMEOUT, false, {"Timeout in waitting device ready..."}},
      {"erase_result_read_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kStatus, kStatusAfterErase));
       },
       ERR_CHECK_RESULT, false, {"Fail to check command result"}},
      {"erase_result_fail",
       [](Config&, Faults& f) { f.status.push_back({sim::status::kFail, op::kErase, 1}); },
       ERR_RESULT_FAIL, false, {"The result of command is fail"}},
      // ---- Programming and verification: the clean-up follows ------------------------------
      {"cf_address_reset_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kResetCf, 1)); },
       ERR_RESET_CF_ADDRESS, true,
       {"Fail to reset configuration flash address", "Fail to program configuration flash"}},
      {"cf_row_refused",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kProgramPage, 100)); },
       ERR_PROGRAM_CF_PAGE, true, {"Fail to program page", "Fail to program configuration flash"}},
      {"cf_row_poll_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kBusy, PollAfterCfRow(99)));
       },
       ERR_CHECK_READY, true,
       {"Fail to check device busy", "Fail to program configuration flash"}},
      {"cf_row_timeout",
       [](Config&, Faults& f) {
         f.busy.push_back(BusyForPollBudget(op::kProgramPage, ISP_CF_ROW_COUNT));
       },
       ERR_TIMEOUT, true,
       {"Timeout in waitting device ready...", "Fail to program configuration flash"}},
      {"usercode_program_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kProgramUsercode, 1)); },
       ERR_PROGRAM_USERCODE, true, {"Fail to program USERCODE"}},
      {"usercode_poll_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kBusy, kPollAfterUsercode));
       },
       ERR_CHECK_READY, true, {"Fail to check device busy"}},
      {"usercode_timeout",
       [](Config&, Faults& f) { f.busy.push_back(BusyForPollBudget(op::kProgramUsercode, 1)); },
       ERR_TIMEOUT, true, {"Timeout in waitting device ready..."}},
      {"usercode_result_read_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kStatus, kStatusAfterUsercode));
       },
       ERR_CHECK_RESULT, true, {"Fail to check command result"}},
      {"usercode_result_fail",
       [](Config&, Faults& f) {
         f.status.push_back({sim::status::kFail, op::kProgramUsercode, 1});
       },
       ERR_RESULT_FAIL, true, {"The result of command is fail"}},
      {"usercode_read_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kReadUsercode, 1)); },
       ERR_READ_USERCODE, true, {"Fail to read USERCODE", "Fail to verify USERCODE"}},
      {"usercode_mismatch", [](Config&, Faults& f) { f.corrupt_usercode = true; },
       ERR_USERCODE_MISMATCH, true, {"USERCODE doesn't match"}},
      {"cf_verify_address_reset_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kResetCf, 2)); },
       ERR_RESET_CF_ADDRESS, true,
       {"Fail to reset configuration flash address", "Fail to verify CF"}},
      {"cf_read_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kReadPage, ISP_CF_ROW_COUNT));
       },
       ERR_READ_CF_PAGE, true, {"Fail to verify CF"}},
      {"cf_mismatch_in_row_0", [](Config&, Faults& f) { f.corrupt_cf_rows = {0}; },
       ERR_CF_MISMATCH, true, {"Fail to verify on in page 0", "CF doesn't match"}},
      {"cf_mismatch_in_row_1234", [](Config&, Faults& f) { f.corrupt_cf_rows = {1234}; },
       ERR_CF_MISMATCH, true, {"Fail to verify on in page 1234", "CF doesn't match"}},
      {"bypass_after_cf_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kBypass, 1)); },
       ERR_BYPASS, true, {"Fail to bypass"}},
      {"ufm_address_reset_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kResetUfm, 1)); },
       ERR_RESET_UFM_ADDRESS, true,
       {"Fail to reset user flash address", "Fail to program user flash"}},
      {"ufm_row_refused",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kProgramPage, ISP_CF_ROW_COUNT + 1));
       },
       ERR_PROGRAM_UFM_PAGE, true, {"Fail to program page", "Fail to program user flash"}},
      {"ufm_row_poll_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kBusy, PollAfterUfmRow(ISP_UFM_ROW_COUNT - 1)));
       },
       ERR_CHECK_READY, true, {"Fail to check device busy", "Fail to program user flash"}},
      {"ufm_row_timeout",
       [](Config&, Faults& f) {
         f.busy.push_back(BusyForPollBudget(op::kProgramPage, ISP_CF_ROW_COUNT + 1));
       },
       ERR_TIMEOUT, true, {"Timeout in waitting device ready...", "Fail to program user flash"}},
      {"ufm_verify_address_reset_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kResetUfm, 2)); },
       ERR_RESET_UFM_ADDRESS, true, {"Fail to reset user flash address", "Fail to verify UFM"}},
      {"ufm_read_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kReadPage, ISP_CF_ROW_COUNT + 1));
       },
       ERR_READ_UFM_PAGE, true, {"Fail to verify UFM"}},
      {"ufm_mismatch_in_last_row",
       [](Config&, Faults& f) { f.corrupt_ufm_rows = {ISP_UFM_ROW_COUNT - 1}; },
       ERR_UFM_MISMATCH, true, {"Fail to verify on in page 639", "UFM doesn't match"}},
      {"bypass_after_ufm_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kBypass, 2)); },
       ERR_BYPASS, true, {"Fail to bypass"}},
      {"check_before_done_read_fails",
       [](Config&, Faults& f) {
         f.transfers.push_back(FailTransfer(op::kStatus, kStatusBeforeDone));
       },
       ERR_CHECK_RESULT, true, {"Fail to check command result"}},
      {"check_before_done_fail",
       [](Config&, Faults& f) { f.status.push_back({sim::status::kFail, op::kBypass, 2}); },
       ERR_RESULT_FAIL, true, {"The result of command befor programming DONE is fail"}},
      // ---- DONE and refresh: the phase line, then the clean-up ---------------------------
      {"done_poll_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kBusy, kPollAfterDone)); },
       ERR_CHECK_READY, true,
       {"Fail to check device busy", "Fail to execute program done and refresh"}},
      {"done_timeout",
       [](Config&, Faults& f) { f.busy.push_back(BusyForPollBudget(op::kProgramDone, 1)); },
       ERR_TIMEOUT, true,
       {"Timeout in waitting device ready...", "Fail to execute program done and refresh"}},
      {"done_flag_read_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kStatus, kStatusDone)); },
       ERR_CHECK_DONE, true,
       {"Fail to check done flag", "Fail to execute program done and refresh"}},
      {"done_never_asserts", [](Config&, Faults& f) { f.done_never_asserts = true; },
       ERR_DONE_DEASSERTED, true,
       {"The done flag is deassert", "Fail to execute program done and refresh"}},
      {"done_command_lost",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kProgramDone, 1)); },
       ERR_DONE_DEASSERTED, true,
       {"The done flag is deassert", "Fail to execute program done and refresh"}},
      {"disable_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kDisable, 1)); },
       ERR_DISABLE_INTERFACE, true,
       {"Fail to disable configuration interface", "Fail to execute program done and refresh"}},
      {"bypass_before_refresh_fails",
       [](Config&, Faults& f) { f.transfers.push_back(FailTransfer(op::kBypass, 3)); },
       ERR_BYPASS, true, {"Fail to bypass", "Fail to execute program done and refresh"}},
  };
  return cases;
}

TEST_F(IspFull, EachFailingStepReturnsItsCodeWithOrWithoutTheCleanUp) {
  for (const FailureCase& c : FailureCases()) {
    SCOPED_TRACE(c.name);
    SetUp();
    sim::Config config = GoodDevice();
    sim::Faults faults;
    c.arrange(config, faults);
    sim::Device device(config, faults);
    const Outcome outcome = Run(&device);

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(DiagnosticLinesOf(outcome.err, "isp"), WithPrefix("isp", c.isp_lines));
    EXPECT_EQ(outcome.out, c.clean_up ? "Start clean up...\n" : "");
    if (c.clean_up) {
      // Erased again and refreshed: nothing half-programmed is left to run.
      EXPECT_EQ(device.counters().Opcode(op::kErase), 2u);
      EXPECT_TRUE(Blank(device));
      EXPECT_FALSE(device.state().transparent);
    } else {
      EXPECT_LE(device.counters().Opcode(op::kErase), 1u);
      EXPECT_EQ(device.counters().Opcode(op::kRefresh), 0u);
    }
  }
}

TEST_F(IspFull, FailuresInsideTheCleanUpKeepTheCodeOfTheFailedStep) {
  // Every case fails first at the address reset before programming (ERR_RESET_CF_ADDRESS).
  struct Case {
    const char* name;
    std::function<void(sim::Faults&)> arrange;
    Lines isp_lines;  // after the two lines of the failed step
  } const cases[] = {
      {"erase_fails", [](sim::Faults& f) { f.transfers.push_back(FailTransfer(op::kErase, 2)); },
       {"Fail to erase CF and UFM", "Fail to clean up"}},
      {"wait_times_out", [](sim::Faults& f) { f.busy.push_back(BusyForPollBudget(op::kErase, 2)); },
       {"Timeout in waitting device ready...", "Fail to clean up"}},
      {"poll_fails",
       [](sim::Faults& f) { f.transfers.push_back(FailTransfer(op::kBusy, kPollAfterErase + 1)); },
       {"Fail to check device busy", "Fail to clean up"}},
      {"refresh_fails",
       [](sim::Faults& f) { f.transfers.push_back(FailTransfer(op::kRefresh, 1)); },
       {"Fail to refresh", "Fail to clean up"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    sim::Faults faults;
    faults.transfers.push_back(FailTransfer(op::kResetCf, 1));
    c.arrange(faults);
    sim::Device device(GoodDevice(), faults);
    const Outcome outcome = Run(&device);
    EXPECT_EQ(outcome.result, ERR_RESET_CF_ADDRESS);
    Lines expected = {"Fail to reset configuration flash address",
                      "Fail to program configuration flash"};
    expected.insert(expected.end(), c.isp_lines.begin(), c.isp_lines.end());
    EXPECT_EQ(DiagnosticLinesOf(outcome.err, "isp"), WithPrefix("isp", expected));
    EXPECT_EQ(outcome.out, "Start clean up...\n");
  }
}

TEST_F(IspFull, TimeoutIsExactly15000PollsAndSleeps) {
  sim::Faults faults;
  faults.busy.push_back(sim::BusyFault{op::kErase, 1, sim::kForever});
  sim::Device device(GoodDevice(), faults);
  const Outcome outcome = Run(&device);
  EXPECT_EQ(outcome.result, ERR_TIMEOUT);
  EXPECT_EQ(outcome.out, "");  // before programming: no clean-up
  EXPECT_EQ(device.counters().Opcode(op::kBusy), kPollAfterErase - 1 + kPollBudget);
  EXPECT_EQ(device.counters().busy_answers, kPollBudget);
  Delays delays{1000, 10000};
  delays.insert(delays.end(), kPollBudget, 1000);
  EXPECT_EQ(virtual_clock::Delays(), delays);
}

TEST_F(IspFull, BusyAnswersJustBelowTheBudgetAreWaitedOut) {
  sim::Faults faults;
  faults.busy.push_back(sim::BusyFault{op::kProgramUsercode, 1, kPollBudget - 1});
  sim::Device device(GoodDevice(), faults);
  const Outcome outcome = Run(&device);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(device.counters().busy_answers, kPollBudget - 1);
}

// What the refresh phase does on various devices, judged by its notices, lines and delays.
TEST_F(IspFull, RefreshRetries) {
  struct Case {
    const char* name;
    std::function<void(sim::Faults&)> arrange;
    int result;
    std::string out;
    Lines isp_lines;
    Delays refresh_delays;  // every delay after the verification pause of the UFM
  } const cases[] = {
      {"first_attempt", [](sim::Faults&) {}, 0, "", {}, {kSecond, kSecond, kSecond}},
      {"third_attempt", [](sim::Faults& f) { f.refresh_succeeds_from = 3; }, 0,
       "Retry refresh. Retry count is 1.\nRetry refresh. Retry count is 2.\n",
       {"Refresh is failed", "Refresh is failed"},
       Delays(7, kSecond)},
      {"refresh_command_fails_once",
       [](sim::Faults& f) { f.transfers.push_back(FailTransfer(op::kRefresh, 1)); }, 0,
       "Retry refresh. Retry count is 1.\n", {"Fail to refresh"}, Delays(4, kSecond)},
      {"refresh_check_fails_once",
       [](sim::Faults& f) { f.transfers.push_back(FailTransfer(op::kStatus, kStatusRefresh)); },
       0, "Retry refresh. Retry count is 1.\n", {"Fail to check refresh is successful"},
       Delays(6, kSecond)},
      {"final_bypass_fails",
       [](sim::Faults& f) { f.transfers.push_back(FailTransfer(op::kBypass, 4)); }, 0, "",
       {"Fail to bypass"}, {kSecond, kSecond, kSecond}},
      {"never",
       [](sim::Faults& f) { f.refresh_succeeds_from = 0; }, ERR_REFRESH,
       "Retry refresh. Retry count is 1.\nRetry refresh. Retry count is 2.\n"
       "Retry refresh. Retry count is 3.\nRetry refresh. Retry count is 4.\n"
       "Start clean up...\n",
       {"Refresh is failed", "Refresh is failed", "Refresh is failed", "Refresh is failed",
        "Refresh is failed", "Fail to execute program done and refresh"},
       [] {
         Delays d(10, kSecond);       // five attempts of 1 s inside Refresh and 1 s after
         d.insert(d.end(), {10000, kSecond});  // clean-up: erase, then its refresh
         return d;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    sim::Faults faults;
    c.arrange(faults);
    sim::Device device(GoodDevice(), faults);
    const Outcome outcome = Run(&device);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(DiagnosticLinesOf(outcome.err, "isp"), WithPrefix("isp", c.isp_lines));
    // The delays up to the pause before verifying the UFM are those of every good run.
    const Delays& all = virtual_clock::Delays();
    constexpr size_t kDelaysBeforeRefresh = 3 + ISP_CF_ROW_COUNT + 3 + ISP_UFM_ROW_COUNT + 1;
    ASSERT_GE(all.size(), kDelaysBeforeRefresh);
    EXPECT_EQ(Delays(all.begin() + kDelaysBeforeRefresh, all.end()), c.refresh_delays);
  }
}

TEST_F(IspFull, LostDoneCommandIsJudgedByTheDoneFlag) {
  // The DONE command fails on the bus, yet the device reports the done flag from then on (the
  // flag is forced in the status register from the last bypass before DONE): the update goes on.
  sim::Faults faults;
  faults.transfers.push_back(FailTransfer(op::kProgramDone, 1));
  faults.status.push_back({sim::status::kDone, op::kBypass, 2});
  sim::Device device(GoodDevice(), faults);
  const Outcome outcome = Run(&device);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(DiagnosticLines(outcome.err), Lines{"cpld: I2C bus IO error, code: 0xfffffffb"});
  EXPECT_EQ(device.counters().Opcode(op::kDisable), 1u);
  EXPECT_EQ(device.counters().Opcode(op::kRefresh), 1u);
}

TEST_F(IspFull, FeabitsAreComparedUnderTheMaskFFF2) {
  struct Case {
    uint16_t device;
    uint16_t image;
    int result;
  } const cases[] = {
      {0x000D, 0x0000, 0},  // bits 0, 2 and 3 are not compared
      {0x0000, 0x000D, 0},
      {0xFFFF, 0xFFF2, 0},
      {0x0002, 0x0000, ERR_FEABITS_MISMATCH},
      {0x0010, 0x0000, ERR_FEABITS_MISMATCH},
      {0x8000, 0x0000, ERR_FEABITS_MISMATCH},
      {0x0000, 0x0002, ERR_FEABITS_MISMATCH},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "device " << c.device << ", image " << c.image);
    SetUp();
    image_->feabits = c.image;
    sim::Config config = GoodDevice();
    config.feabits = c.device;
    sim::Device device(config);
    EXPECT_EQ(Run(&device).result, c.result);
    EXPECT_EQ(device.counters().Opcode(op::kErase), c.result == 0 ? 1u : 0u);
  }
}

TEST_F(IspFull, ProgressCountsOnlyRowsThatWereProgrammedOrVerified) {
  struct Case {
    const char* name;
    std::function<void(sim::Faults&)> arrange;
    uint32_t steps;
    const char* shown;  // the file after the run
  } const cases[] = {
      {"before_programming",
       [](sim::Faults& f) { f.transfers.push_back(FailTransfer(op::kResetCf, 1)); }, 0, "0"},
      {"cf_row_100_refused",
       [](sim::Faults& f) { f.transfers.push_back(FailTransfer(op::kProgramPage, 101)); }, 100,
       "1"},
      {"cf_mismatch_in_row_0", [](sim::Faults& f) { f.corrupt_cf_rows = {0}; }, 3198, "41"},
      {"ufm_mismatch_in_last_row",
       [](sim::Faults& f) { f.corrupt_ufm_rows = {ISP_UFM_ROW_COUNT - 1}; }, 7675, "99"},
      {"done_never_asserts", [](sim::Faults& f) { f.done_never_asserts = true; }, 7676, "99"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    WriteFile(progress_path_, "start");
    sim::Faults faults;
    c.arrange(faults);
    sim::Device device(GoodDevice(), faults);
    Run(&device);
    // No step taken: the file is untouched (ISPFull writes no 0 of its own).
    EXPECT_EQ(FileText(progress_path_), c.steps == 0 ? "start" : c.shown);
    ExpectStepsTaken(c.steps);
  }
}

TEST_F(IspFull, UnwritableProgressFileIsReportedAtEveryStepAndIgnored) {
  sim::Device device(GoodDevice());
  const std::string unwritable = dir_.File("no_such_dir/progress");
  const Outcome outcome = Run(&device, unwritable.c_str());
  EXPECT_EQ(outcome.result, 0);
  Lines expected;
  for (int step = 0; step < 7676; ++step) {
    expected.push_back("upgrade_progress: Fail to upgrade progress");
    expected.push_back("isp: Fail to update progress");
  }
  EXPECT_EQ(DiagnosticLines(outcome.err), expected);
  EXPECT_TRUE(sim::Compare(device.state(), *image_).Matches());
}

}  // namespace
