// Injected faults: each one shows at the step of an update where it must, and only there.
#include <functional>
#include <string>

#include "scripted_update.h"
#include "sim_test_support.h"

namespace {

using sim_test::SimFixture;

class SimFaultTest : public SimFixture {
 protected:
  // Runs the scripted update; "" when it succeeds, else the step that failed.
  std::string RunUpdate(const IspInfo& image) {
    std::string failure;
    testing::internal::CaptureStderr();  // the command layer reports the failures it meets
    const bool ok = sim::RunScriptedUpdate(image, &failure);
    testing::internal::GetCapturedStderr();
    return ok ? "" : failure;
  }
};

struct FaultCase {
  const char* name;
  const char* faults;  // text form, "" for none
  std::function<void(sim::Config&)> configure;
  const char* failed_step;  // "" for a successful update
  std::function<void(const sim::Device&, const IspInfo&)> check;
};

const auto kNoConfig = [](sim::Config&) {};
const auto kNoCheck = [](const sim::Device&, const IspInfo&) {};

bool RowIs(const sim::Row& row, const uint8_t* bytes) {
  return std::memcmp(row.data(), bytes, 16) == 0;
}

const FaultCase kFaultCases[] = {
    {"first transfer fails", "fail-transfer=1:-121", kNoConfig, "device ID",
     [](const sim::Device& d, const IspInfo&) {
       EXPECT_EQ(d.transcript()[0].result, -121);
       EXPECT_EQ(d.counters().injected_failures, 1u);
       EXPECT_EQ(d.counters().executed, 0u);
     }},
    {"fifth row fails", "fail-opcode=0x70:5:-110", kNoConfig, "program CF",
     [](const sim::Device& d, const IspInfo& image) {
       EXPECT_EQ(d.counters().Opcode(0x70), 5u);
       EXPECT_TRUE(RowIs(d.state().cf[3], image.cf_rows[3]));
       EXPECT_EQ(d.state().cf[4], sim::Row{}) << "a failed transfer does not reach the flash";
       EXPECT_EQ(d.transcript().back().result, -110);
     }},
    {"last CF read-back fails", "fail-opcode=0x73:3198", kNoConfig, "verify CF",
     [](const sim::Device& d, const IspInfo&) {
       EXPECT_EQ(d.counters().Opcode(0x73), 3198u);
       EXPECT_EQ(d.transcript().back().result, -EIO);
     }},
    {"busy for 3 polls from power-on", "busy-at-start=3", kNoConfig, "transparent mode",
     [](const sim::Device& d, const IspInfo&) {
       EXPECT_EQ(d.counters().ignored_while_busy, 1u) << "enabling transparent mode was dropped";
       EXPECT_EQ(d.counters().busy_answers, 3u);
     }},
    {"busy for 3 polls after enabling transparent mode", "busy-after=0x74:1:3", kNoConfig, "",
     [](const sim::Device& d, const IspInfo&) { EXPECT_EQ(d.counters().busy_answers, 3u); }},
    {"row 10 busy for 2 polls", "busy-after=0x70:10:2", kNoConfig, "",
     [](const sim::Device& d, const IspInfo&) { EXPECT_EQ(d.counters().busy_answers, 2u); }},
    {"busy for ever after the erase", "busy-after=0x0E:1:forever", kNoConfig, "erase",
     [](const sim::Device& d, const IspInfo&) {
       EXPECT_EQ(d.counters().busy_answers, 15000u);
       EXPECT_TRUE(d.Busy());
     }},
    {"fail flag from the start", "status-fail", kNoConfig, "transparent mode", kNoCheck},
    {"busy flag in the status register", "status-busy", kNoConfig, "transparent mode",
     [](const sim::Device& d, const IspInfo&) {
       EXPECT_FALSE(d.Busy()) << "only the status register says busy";
       EXPECT_NE(d.StatusRegister() & sim::status::kBusy, 0u);
     }},
    {"fail flag after USERCODE", "status=0x2000:0xC2:1", kNoConfig, "program USERCODE", kNoCheck},
    {"corrupt read-back of CF row 17", "corrupt-cf=17", kNoConfig, "verify CF",
     [](const sim::Device& d, const IspInfo& image) {
       EXPECT_TRUE(RowIs(d.state().cf[17], image.cf_rows[17])) << "the flash itself is right";
       EXPECT_EQ(d.transcript().back().In()[0], image.cf_rows[17][0] ^ 0x01);
       EXPECT_EQ(d.counters().Opcode(0x73), 18u);
     }},
    {"corrupt read-back of UFM row 639", "corrupt-ufm=639", kNoConfig, "verify UFM",
     [](const sim::Device& d, const IspInfo&) {
       EXPECT_EQ(d.counters().Opcode(0x73), 3838u);
     }},
    {"corrupt USERCODE read-back", "corrupt-usercode", kNoConfig, "verify USERCODE",
     [](const sim::Device& d, const IspInfo&) {
       EXPECT_EQ(d.state().usercode, (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));
     }},
    {"refresh good from the second attempt", "refresh-from=2", kNoConfig, "refresh",
     [](const sim::Device& d, const IspInfo&) {
       EXPECT_EQ(d.StatusRegister() & sim::status::kRefreshErrorField, sim::status::kRefreshError);
     }},
    {"refresh never good", "refresh-never", kNoConfig, "refresh", kNoCheck},
    {"DONE never asserts", "done-never", kNoConfig, "DONE",
     [](const sim::Device& d, const IspInfo&) { EXPECT_TRUE(d.state().done_fuse); }},
    {"another device ID", "", [](sim::Config& c) { c.device_id = 0x012BB042; }, "device ID",
     [](const sim::Device& d, const IspInfo&) { EXPECT_EQ(d.counters().transfers, 1u); }},
    {"key protection", "", [](sim::Config& c) { c.key_protection = true; }, "key protection",
     kNoCheck},
    {"OTP", "", [](sim::Config& c) { c.otp = true; }, "OTP", kNoCheck},
    {"FEABITS differ in bit 1", "", [](sim::Config& c) { c.feabits = 0x0002; }, "FEABITS",
     kNoCheck},
    {"FEABITS differ in bits 0, 2, 3 only", "", [](sim::Config& c) { c.feabits = 0x000D; }, "",
     kNoCheck},
};

TEST_F(SimFaultTest, EachFaultStopsTheUpdateWhereItShould) {
  const auto image = sim_test::MakeImage(3);
  for (const FaultCase& c : kFaultCases) {
    SCOPED_TRACE(c.name);
    device_ = sim::Device();
    device_.config().record_transcript = true;
    c.configure(device_.config());
    std::string error;
    ASSERT_TRUE(sim::ParseFaults(c.faults, &device_.faults(), &error)) << error;

    EXPECT_EQ(RunUpdate(*image), c.failed_step);
    c.check(device_, *image);
    if (c.failed_step[0] == '\0') {
      EXPECT_TRUE(sim::Compare(device_.state(), *image).Matches());
    }
  }
}

TEST_F(SimFaultTest, TransferFaultCountsConsecutiveMatches) {
  std::string error;
  ASSERT_TRUE(sim::ParseFaults("fail-opcode=0xF0:2:-5:3", &device_.faults(), &error)) << error;
  testing::internal::CaptureStderr();
  std::vector<int> results;
  for (int i = 0; i < 6; ++i) {
    uint8_t busy = 0;
    results.push_back(IsBusy(&busy));
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(results, (std::vector<int>{0, -5, -5, -5, 0, 0}));
}

TEST_F(SimFaultTest, RefreshSucceedsFromTheConfiguredAttemptOfTheRun) {
  device_.state().refresh_attempts = 5;  // earlier runs do not count
  device_.faults().refresh_succeeds_from = 3;
  EnableAndErase();
  ASSERT_EQ(ProgramDONE(), 0);
  ASSERT_EQ(DisableConfigurationInterface(), 0);
  std::vector<int> answers;
  testing::internal::CaptureStderr();
  for (int attempt = 0; attempt < 4; ++attempt) {
    uint8_t success = 9;
    ASSERT_EQ(Refresh(), 0);
    ASSERT_EQ(IsRefreshSuccessful(&success), 0);
    answers.push_back(success);
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(answers, (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(device_.state().refresh_attempts, 9u);
}

TEST(SimFaultTextTest, ParsesEveryFaultName) {
  sim::Faults faults;
  std::string error;
  ASSERT_TRUE(sim::ParseFaults(
      " fail-transfer=12 , fail-transfer=7:-121:forever, fail-opcode=0x70:5:-6:2,"
      "busy-at-start=4, busy-after=0x0E:1:forever, status=0x00800000, status-fail=0x46:2,"
      "status-busy, corrupt-cf=3197, corrupt-ufm=0, corrupt-usercode, refresh-from=3,"
      "done-never",
      &faults, &error))
      << error;
  ASSERT_EQ(faults.transfers.size(), 3u);
  EXPECT_EQ(faults.transfers[0].opcode, sim::kAnyOpcode);
  EXPECT_EQ(faults.transfers[0].occurrence, 12u);
  EXPECT_EQ(faults.transfers[0].code, -EIO);
  EXPECT_EQ(faults.transfers[0].count, 1u);
  EXPECT_EQ(faults.transfers[1].code, -121);
  EXPECT_EQ(faults.transfers[1].count, 0u);
  EXPECT_EQ(faults.transfers[2].opcode, 0x70);
  EXPECT_EQ(faults.transfers[2].occurrence, 5u);
  EXPECT_EQ(faults.transfers[2].code, -6);
  EXPECT_EQ(faults.transfers[2].count, 2u);
  ASSERT_EQ(faults.busy.size(), 2u);
  EXPECT_EQ(faults.busy[0].opcode, sim::kPowerOn);
  EXPECT_EQ(faults.busy[0].polls, 4u);
  EXPECT_EQ(faults.busy[1].opcode, 0x0E);
  EXPECT_EQ(faults.busy[1].polls, sim::kForever);
  ASSERT_EQ(faults.status.size(), 3u);
  EXPECT_EQ(faults.status[0].bits, 0x00800000u);
  EXPECT_EQ(faults.status[0].opcode, sim::kPowerOn);
  EXPECT_EQ(faults.status[1].bits, sim::status::kFail);
  EXPECT_EQ(faults.status[1].opcode, 0x46);
  EXPECT_EQ(faults.status[1].occurrence, 2u);
  EXPECT_EQ(faults.status[2].bits, sim::status::kBusy);
  EXPECT_EQ(faults.corrupt_cf_rows, std::vector<int>{3197});
  EXPECT_EQ(faults.corrupt_ufm_rows, std::vector<int>{0});
  EXPECT_TRUE(faults.corrupt_usercode);
  EXPECT_EQ(faults.refresh_succeeds_from, 3u);
  EXPECT_TRUE(faults.done_never_asserts);

  ASSERT_TRUE(sim::ParseFaults("refresh-never", &faults, &error));
  EXPECT_EQ(faults.refresh_succeeds_from, 0u);
}

TEST(SimFaultTextTest, RejectsBadTextAndKeepsTheFaults) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"fail-transfer=3,bogus", "unknown fault name \"bogus\""},
      {"fail-transfer=abc", "malformed number \"abc\" in fault \"fail-transfer=abc\""},
      {"fail-transfer=0", "malformed number \"0\""},
      {"fail-transfer=3:5", "malformed number \"5\""},
      {"fail-transfer=3:-5x", "malformed number \"-5x\""},
      {"fail-opcode=0x100:1", "malformed number \"0x100\""},
      {"corrupt-cf=3198", "malformed number \"3198\""},
      {"corrupt-ufm=-1", "malformed number \"-1\""},
      {"busy-after=0x70:1", "takes 3 value(s)"},
      {"busy-at-start=often", "malformed number \"often\""},
      {"refresh-never=1", "takes 0 value(s)"},
      {"status-fail=0x70", "needs an opcode and an occurrence, or neither"},
      {"fail-transfer=", "has an empty value"},
  };
  for (const auto& c : cases) {
    sim::Faults faults;
    faults.corrupt_cf_rows = {5};
    std::string error;
    EXPECT_FALSE(sim::ParseFaults(c.text, &faults, &error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << ": " << error;
    EXPECT_TRUE(faults.transfers.empty()) << c.text;
    EXPECT_EQ(faults.corrupt_cf_rows, std::vector<int>{5}) << c.text;
  }
}

}  // namespace
