// The real fuseupdate program against the simulated device's drop-in I2C library, in a private
// mount namespace where /var and /conf are scratch folders. The virtual clock is preloaded, so the
// program's waits cost no real time, and it logs what a watcher of the program's files sees at
// each wait of 100 ms or more.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fusekit.h"
#include "jed_writer.h"
#include "sim_device.h"
#include "target_program.h"
#include "temp_dir.h"

extern char** environ;

namespace {

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

int CountLines(const std::string& text, const std::string& line) {
  int count = 0;
  std::istringstream lines(text);
  for (std::string current; std::getline(lines, current);) count += current == line;
  return count;
}

// Every line of a diagnostic "(main:N) text" with the given text.
int CountMainDiagnostics(const std::string& err, const std::string& text) {
  int count = 0;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    const size_t close = line.find(") ");
    count += line.rfind("(main:", 0) == 0 && close != std::string::npos &&
             line.substr(close + 2) == text;
  }
  return count;
}

struct UpdateRun {
  int exit_status = -1;
  std::string out;
  std::string err;
  std::string watch_log;
};

class UpdateProgram : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.empty());
    mkdir((scratch_ + "/var").c_str(), 0755);
    mkdir((scratch_ + "/conf").c_str(), 0755);
    image_ = std::make_unique<IspInfo>();
    jed_writer::FillSampleImage(7, image_.get());
  }

  std::string Var(const std::string& name) const { return scratch_ + "/var/" + name; }
  std::string Conf(const std::string& name) const { return scratch_ + "/conf/" + name; }

  void WriteFuseFile() {
    std::string error;
    ASSERT_TRUE(jed_writer::WriteJedFile(Var("cpld.jed"), *image_, {}, &error)) << error;
  }

  // Runs fuseupdate with the simulated device configured by `settings` (FUSEKIT_SIM_...).
  UpdateRun Update(std::vector<std::string> settings = {}) {
    char feabits[16];
    std::snprintf(feabits, sizeof(feabits), "0x%04x", image_->feabits);
    settings.push_back(std::string("FUSEKIT_SIM_FEABITS=") + feabits);
    settings.push_back("FUSEKIT_SIM_STATE=" + scratch_ + "/device.state");
    settings.push_back("LD_LIBRARY_PATH=" SIM_DROPIN_DIR);
    settings.push_back("LD_PRELOAD=" VIRTUAL_CLOCK_LIBRARY);
    settings.push_back("VIRTUAL_CLOCK_WATCH=/var/bp_cpld_upgrade /conf/i2c_cpld_update_status "
                       "/var/i2c_cpld_update_progress");
    settings.push_back("VIRTUAL_CLOCK_WATCH_LOG=" + scratch_ + "/watch.log");
    // The sanitizer runtime must come first unless told otherwise; the preload comes before it.
    settings.push_back("ASAN_OPTIONS=verify_asan_link_order=0");

    // isolated-run.sh SCRATCH env SETTINGS... [emulator] fuseupdate: the settings reach the
    // program only, not the host shell and tools that set up the namespace.
    std::vector<std::string> argv = {ISOLATED_RUN, scratch_, "/usr/bin/env"};
    argv.insert(argv.end(), settings.begin(), settings.end());
    for (const std::string& part : target_program::Command(FUSEUPDATE)) argv.push_back(part);

    std::vector<char*> arguments;
    for (std::string& part : argv) arguments.push_back(&part[0]);
    arguments.push_back(nullptr);
    const std::string out_path = scratch_ + "/stdout", err_path = scratch_ + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    UpdateRun run;
    pid_t pid;
    if (posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = FileText(out_path);
    run.err = FileText(err_path);
    run.watch_log = Exists(scratch_ + "/watch.log") ? FileText(scratch_ + "/watch.log") : "";
    return run;
  }

  sim::State DeviceState() {
    sim::State state;
    std::string error;
    EXPECT_TRUE(sim::LoadState(scratch_ + "/device.state", &state, &error)) << error;
    return state;
  }

  TempDir dir_;
  const std::string scratch_ = dir_.path();
  std::unique_ptr<IspInfo> image_;
};

#define SKIP_WITHOUT_NAMESPACE(run)                                             \
  if ((run).exit_status == 77) GTEST_SKIP() << "no private mount namespace: " << (run).err

const char kFailBanner[] = "+=======+\n| FAIL! |\n+=======+\n\n";
const char kPassBanner[] = "\n+=======+\n| PASS! |\n+=======+\n\n";

std::string FailureText(const std::string& message) {
  return "\nProcessing failure: " + message + "\n\n";
}

TEST_F(UpdateProgram, SuccessfulUpdateProgramsTheDeviceAndReportsThroughItsFiles) {
  WriteFuseFile();
  WriteFile(Conf("cpld_update_result"), "left by an earlier failure");
  const UpdateRun run = Update();
  SKIP_WITHOUT_NAMESPACE(run);

  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_EQ(run.out.rfind("Start to update CPLD...\n", 0), 0u) << run.out;
  EXPECT_NE(run.out.find(kPassBanner), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Retry"), std::string::npos) << "read back 100 at once";
  EXPECT_EQ(run.out.find("clean up"), std::string::npos);

  EXPECT_EQ(FileText(Conf("i2c_cpld_update_status")), "02\n");
  EXPECT_EQ(FileText(Var("i2c_cpld_update_progress")), "0");
  EXPECT_FALSE(Exists(Var("bp_cpld_upgrade")));
  EXPECT_EQ(FileText(Conf("cpld_update_result")), "left by an earlier failure");

  // What a watcher saw while the program waited: marker and status 04 during programming, then
  // 100 and status 02 during the 7 s hold, with the marker still present.
  EXPECT_NE(run.watch_log.find("1000000 /var/bp_cpld_upgrade= /conf/i2c_cpld_update_status=04\\n "
                               "/var/i2c_cpld_update_progress="),
            std::string::npos)
      << run.watch_log;
  EXPECT_NE(run.watch_log.find("7000000 /var/bp_cpld_upgrade= /conf/i2c_cpld_update_status=02\\n "
                               "/var/i2c_cpld_update_progress=100\n"),
            std::string::npos)
      << run.watch_log;
  EXPECT_EQ(run.watch_log.find("500000 "), std::string::npos) << "no retry wait";

  const sim::Comparison comparison = sim::Compare(DeviceState(), *image_);
  EXPECT_TRUE(comparison.Matches()) << "first CF mismatch " << comparison.first_cf_mismatch
                                    << ", first UFM mismatch " << comparison.first_ufm_mismatch;
}

struct FailureCase {
  const char* name;
  std::vector<std::string> settings;
  bool write_fuse_file;
  const char* fuse_file_text;  // replaces the writer's file when set
  int exit_status;
  const char* message;
  bool clean_up;
};

class UpdateFailures : public UpdateProgram, public testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateFailures, ReportTheStepThatStoppedTheUpdate) {
  const FailureCase& c = GetParam();
  if (c.write_fuse_file) WriteFuseFile();
  if (c.fuse_file_text != nullptr) WriteFile(Var("cpld.jed"), c.fuse_file_text);
  WriteFile(Var("i2c_cpld_update_progress"), "42");
  const UpdateRun run = Update(c.settings);
  SKIP_WITHOUT_NAMESPACE(run);

  EXPECT_EQ(run.exit_status, c.exit_status) << run.out << run.err;
  const std::string failure = FailureText(c.message);
  EXPECT_NE(run.out.find(failure + kFailBanner), std::string::npos) << run.out;
  EXPECT_EQ(FileText(Conf("cpld_update_result")), failure);
  EXPECT_EQ(FileText(Conf("i2c_cpld_update_status")), "05\n");
  EXPECT_FALSE(Exists(Var("bp_cpld_upgrade")));
  EXPECT_EQ(CountLines(run.out, "Start clean up..."), c.clean_up ? 1 : 0) << run.out;
  if (!c.clean_up) {
    // No row was programmed, so nothing reached the progress file.
    EXPECT_EQ(FileText(Var("i2c_cpld_update_progress")), "42");
  } else {
    // The clean-up erased the device again: every row reads blank.
    const sim::State state = DeviceState();
    int programmed_rows = 0;
    for (const sim::Row& row : state.cf) programmed_rows += row != sim::Row{};
    for (const sim::Row& row : state.ufm) programmed_rows += row != sim::Row{};
    EXPECT_EQ(programmed_rows, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateFailures,
    testing::Values(
        FailureCase{"missing_fuse_file", {}, false, nullptr, 37, "Fail to open Firmware file",
                    false},
        FailureCase{"fuse_file_without_stx", {}, false, "no start of text here\n", 38,
                    "Fail to Parse Firmware file", false},
        FailureCase{"broken_row", {}, false, "\x02QF491264*\nL0\n0101\n*\n", 38,
                    "Fail to Parse Firmware file", false},
        FailureCase{"device_id_unreadable", {"FUSEKIT_SIM_FAULTS=fail-opcode=0xE0:1"}, true,
                    nullptr, 6, "Fail to check device ID match", false},
        FailureCase{"another_device", {"FUSEKIT_SIM_DEVICE_ID=0x012BB042"}, true, nullptr, 7,
                    "Device ID doesn't match", false},
        FailureCase{"cf_verification", {"FUSEKIT_SIM_FAULTS=corrupt-cf=100"}, true, nullptr, 27,
                    "CF doesn't match", true},
        FailureCase{"refresh_never", {"FUSEKIT_SIM_FAULTS=refresh-never"}, true, nullptr, 36,
                    "Fail to execute refresh command", true}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(UpdateProgram, UnwritableProgressFileNeverTurnsSuccessIntoFailure) {
  WriteFuseFile();
  // A directory in place of the progress file: it can be neither written nor read.
  mkdir(Var("i2c_cpld_update_progress").c_str(), 0755);
  const UpdateRun run = Update();
  SKIP_WITHOUT_NAMESPACE(run);

  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_EQ(CountMainDiagnostics(run.err, "Fail to update progress"), 5) << run.err;
  EXPECT_EQ(CountMainDiagnostics(run.err, "Fail to reset progress bar to 0"), 1);
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(CountLines(run.out, "Retry " + std::to_string(k) + " update progress to 100"), 1);
  }
  EXPECT_EQ(run.out.find("Retry 5"), std::string::npos);
  EXPECT_NE(run.out.find(kPassBanner), std::string::npos);
  EXPECT_EQ(FileText(Conf("i2c_cpld_update_status")), "02\n");
  // Five waits of 500 ms between the attempts, then the 7 s hold.
  int retry_waits = 0;
  std::istringstream lines(run.watch_log);
  for (std::string line; std::getline(lines, line);) retry_waits += line.rfind("500000 ", 0) == 0;
  EXPECT_EQ(retry_waits, 5) << run.watch_log;
}

TEST_F(UpdateProgram, SecondUpdateSeesTheFirstOnesDevice) {
  WriteFuseFile();
  const UpdateRun first = Update();
  SKIP_WITHOUT_NAMESPACE(first);
  ASSERT_EQ(first.exit_status, 0) << first.err;

  jed_writer::FillSampleImage(8, image_.get());
  WriteFuseFile();
  const UpdateRun second = Update();
  EXPECT_EQ(second.exit_status, 0) << second.err;
  EXPECT_TRUE(sim::Compare(DeviceState(), *image_).Matches());
}

}  // namespace
