// FUSEKIT_SIM_* settings: each reaches the device; a bad one is reported once, after which every
// transfer fails and no state is written.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "output_capture.h"
#include "sim_device.h"
#include "sim_temp_dir.h"

namespace {

// A null-terminated environment array built from strings.
class Environment {
 public:
  explicit Environment(std::vector<std::string> entries) : entries_(std::move(entries)) {
    for (const std::string& entry : entries_) pointers_.push_back(entry.c_str());
    pointers_.push_back(nullptr);
  }
  const char* const* get() const { return pointers_.data(); }

 private:
  std::vector<std::string> entries_;
  std::vector<const char*> pointers_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

TEST(SimEnvironmentTest, EverySettingReachesTheDevice) {
  sim_test::TempDir dir;
  const std::string state_path = dir.path() + "/device.state";
  {
    sim::State state;
    state.cf[7].fill(0x77);
    std::string error;
    ASSERT_TRUE(sim::SaveState(state, state_path, &error)) << error;
  }
  const Environment environment({
      "PATH=/usr/bin",
      "FUSEKIT_SIM_STATE=" + state_path,
      "FUSEKIT_SIM_DEVICE_ID=0x012BB042",
      "FUSEKIT_SIM_FEABITS=0x0F0F",
      "FUSEKIT_SIM_KEY_PROTECTION=1",
      "FUSEKIT_SIM_OTP=1",
      "FUSEKIT_SIM_BUS=/dev/i2c5",
      "FUSEKIT_SIM_ADDRESS=0x41",
      "FUSEKIT_SIM_BUSY_ERASE=forever",
      "FUSEKIT_SIM_BUSY_ROW=300us",
      "FUSEKIT_SIM_BUSY_USERCODE=2ms",
      "FUSEKIT_SIM_BUSY_DONE=7",
      "FUSEKIT_SIM_BUSY_TRANSPARENT=1",
      "FUSEKIT_SIM_BUSY_REFRESH=0",
      "FUSEKIT_SIM_BUS_HZ=400000",
      "FUSEKIT_SIM_FAULTS=corrupt-cf=3,refresh-from=2",
      "FUSEKIT_SIM_TRANSCRIPT=-",
      "FUSEKIT_SIM_REPORT=" + dir.path() + "/report",
  });
  sim::Device device;
  sim::EnvironmentSettings settings;
  output_capture::StartStderr();
  EXPECT_TRUE(sim::ConfigureFromEnvironment(&device, environment.get(), &settings));
  EXPECT_EQ(output_capture::TakeStderr(), "");

  const sim::Config& config = device.config();
  EXPECT_EQ(config.device_id, 0x012BB042u);
  EXPECT_EQ(config.feabits, 0x0F0F);
  EXPECT_TRUE(config.key_protection);
  EXPECT_TRUE(config.otp);
  EXPECT_EQ(config.device_path, "/dev/i2c5");
  EXPECT_EQ(config.slave_address, 0x41);
  EXPECT_EQ(config.erase_busy.polls, sim::kForever);
  EXPECT_EQ(config.row_busy.microseconds, 300u);
  EXPECT_EQ(config.usercode_busy.microseconds, 2000u);
  EXPECT_EQ(config.done_busy.polls, 7u);
  EXPECT_EQ(config.transparent_busy.polls, 1u);
  EXPECT_EQ(config.bus_hz, 400000u);
  EXPECT_TRUE(config.record_transcript);
  EXPECT_EQ(device.faults().corrupt_cf_rows, std::vector<int>{3});
  EXPECT_EQ(device.faults().refresh_succeeds_from, 2u);
  EXPECT_EQ(device.state().cf[7][0], 0x77) << "the state file was loaded";
  EXPECT_EQ(settings.state_path, state_path);
  EXPECT_EQ(settings.transcript_path, "-");
  EXPECT_EQ(settings.report_path, dir.path() + "/report");
}

TEST(SimEnvironmentTest, MissingStateFileMeansAFreshDevice) {
  sim_test::TempDir dir;
  const Environment environment({"FUSEKIT_SIM_STATE=" + dir.path() + "/new.state"});
  sim::Device device;
  device.state().cf[0].fill(1);
  sim::EnvironmentSettings settings;
  EXPECT_TRUE(sim::ConfigureFromEnvironment(&device, environment.get(), &settings));
  EXPECT_EQ(device.state().cf[0][0], 1);
  EXPECT_EQ(settings.state_path, dir.path() + "/new.state");
}

TEST(SimEnvironmentTest, BadConfigurationIsReportedOnceThenEveryTransferFails) {
  sim_test::TempDir dir;
  const std::string garbage = dir.path() + "/garbage.state";
  std::ofstream(garbage) << "this is not a state file\n";
  const struct {
    std::string entry;
    const char* message;
  } cases[] = {
      {"FUSEKIT_SIM_FAULTS=fail-transfer=3,explode", "FUSEKIT_SIM_FAULTS: unknown fault name \"explode\""},
      {"FUSEKIT_SIM_FAULTS=corrupt-cf=x", "malformed number \"x\""},
      {"FUSEKIT_SIM_DEVICE_ID=0x12BB04G", "FUSEKIT_SIM_DEVICE_ID=0x12BB04G: malformed value"},
      {"FUSEKIT_SIM_FEABITS=0x10000", "FUSEKIT_SIM_FEABITS=0x10000: malformed value"},
      {"FUSEKIT_SIM_BUSY_ROW=3s", "FUSEKIT_SIM_BUSY_ROW=3s: malformed value"},
      {"FUSEKIT_SIM_OTP=yes", "FUSEKIT_SIM_OTP=yes: malformed value"},
      {"FUSEKIT_SIM_DEVCE_ID=1", "unknown setting FUSEKIT_SIM_DEVCE_ID"},
      {"FUSEKIT_SIM_STATE=" + garbage, "not a state file"},
      {"FUSEKIT_SIM_STATE=" + dir.path(), "not a state file"},
      {"FUSEKIT_SIM_STATE=" + dir.path() + "/missing/device.state", "cannot be created"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    const Environment environment({"FUSEKIT_SIM_BUS_HZ=100000", c.entry});
    sim::Device device;
    sim::EnvironmentSettings settings;
    output_capture::StartStderr();
    EXPECT_FALSE(sim::ConfigureFromEnvironment(&device, environment.get(), &settings));
    const uint8_t command[4] = {0xE0, 0x00, 0x00, 0x00};
    uint8_t answer[4] = {};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(device.WriteRead("/dev/i2c5", 0x40, command, answer, 4, 4),
                sim::kMisconfiguredCode);
    }
    device.Misconfigure("a second report is not printed");
    const std::vector<std::string> lines = Lines(output_capture::TakeStderr());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("fusekit-sim: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(c.message), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("every transfer will fail"), std::string::npos) << lines[0];
    EXPECT_EQ(device.config().bus_hz, 0u) << "nothing of a bad configuration is applied";
    EXPECT_TRUE(settings.state_path.empty());
  }
  EXPECT_EQ(sim_test::ReadFile(garbage), "this is not a state file\n");
}

}  // namespace
