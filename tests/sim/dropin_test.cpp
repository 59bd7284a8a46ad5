// The drop-in libboardi2c.so.1 and the state file tool, as separate programs use them: a program
// linked against libfusekit runs with LD_LIBRARY_PATH set to the drop-in's directory.
#include <fcntl.h>
#include <spawn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "sim_device.h"
#include "sim_temp_dir.h"
#include "sim_test_image.h"
#include "target_program.h"

extern char** environ;

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` and this process's environment minus any FUSEKIT_SIM_ and
// LD_LIBRARY_PATH settings, plus `settings`.
Outcome RunProgram(const std::string& directory, const std::string& program,
                   const std::vector<std::string>& arguments,
                   const std::vector<std::string>& settings) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "FUSEKIT_SIM_", 12) == 0 ||
        std::strncmp(*entry, "LD_LIBRARY_PATH=", 16) == 0) {
      continue;
    }
    environment.push_back(*entry);
  }
  environment.insert(environment.end(), settings.begin(), settings.end());
  std::vector<char*> env_pointers, arg_pointers;
  for (std::string& entry : environment) env_pointers.push_back(&entry[0]);
  env_pointers.push_back(nullptr);
  // Through the emulator on a cross build.
  std::vector<std::string> argv = target_program::Command(program, arguments);
  for (std::string& argument : argv) arg_pointers.push_back(&argument[0]);
  arg_pointers.push_back(nullptr);

  const std::string out_path = directory + "/stdout", err_path = directory + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  Outcome outcome;
  if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, arg_pointers.data(),
                  env_pointers.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = sim_test::ReadFile(out_path);
  outcome.err = sim_test::ReadFile(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  return outcome;
}

int CountLinesStartingWith(const std::string& text, const std::string& prefix) {
  int count = 0;
  size_t start = 0;
  while (start < text.size()) {
    if (text.compare(start, prefix.size(), prefix) == 0) ++count;
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return count;
}

void WriteRawImage(const IspInfo& image, const std::string& path) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(image.cf_rows), sizeof(image.cf_rows));
  file.write(reinterpret_cast<const char*>(image.ufm_rows), sizeof(image.ufm_rows));
  const uint8_t usercode[4] = {static_cast<uint8_t>(image.usercode),
                               static_cast<uint8_t>(image.usercode >> 8),
                               static_cast<uint8_t>(image.usercode >> 16),
                               static_cast<uint8_t>(image.usercode >> 24)};
  file.write(reinterpret_cast<const char*>(usercode), 4);
}

std::string RowHex(const uint8_t* row) {
  std::string text;
  char digits[3];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(digits, sizeof(digits), "%02X", row[i]);
    text += digits;
  }
  return text;
}

class SimDropInTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    image_ = sim_test::MakeImage(11);
    image_path_ = dir_.path() + "/image.bin";
    state_path_ = dir_.path() + "/device.state";
    WriteRawImage(*image_, image_path_);
  }

  Outcome Client(const std::vector<std::string>& arguments, std::vector<std::string> settings) {
    settings.push_back(std::string("LD_LIBRARY_PATH=") + SIM_DROPIN_DIR);
    return RunProgram(dir_.path(), SIM_DROPIN_CLIENT, arguments, settings);
  }
  Outcome Tool(const std::vector<std::string>& arguments) {
    return RunProgram(dir_.path(), SIM_CLI, arguments, {});
  }

  sim_test::TempDir dir_;
  std::unique_ptr<IspInfo> image_;
  std::string image_path_, state_path_;
};

TEST_F(SimDropInTest, UpdateLeavesTheImageForTheNextRunAndTheTool) {
  const std::string state = "FUSEKIT_SIM_STATE=" + state_path_;
  const Outcome update = Client({"update", image_path_}, {state});
  ASSERT_EQ(update.status, 0) << update.out << update.err;
  EXPECT_EQ(update.out, "ok\n");
  EXPECT_EQ(update.err, "");

  auto saved = std::make_unique<sim::State>();
  std::string error;
  ASSERT_TRUE(sim::LoadState(state_path_, saved.get(), &error)) << error;
  EXPECT_TRUE(sim::Compare(*saved, *image_).Matches());

  const Outcome verify = Client({"verify", image_path_}, {state});
  EXPECT_EQ(verify.status, 0) << verify.err;
  EXPECT_EQ(verify.out, "holds image\n");

  Outcome compare = Tool({"compare", state_path_, image_path_});
  EXPECT_EQ(compare.status, 0) << compare.err;
  EXPECT_EQ(compare.out, "match\n");
  const Outcome rows_differ = Tool({"compare-rows", state_path_, "5=" + RowHex(image_->cf_rows[5]),
                                    "3198=" + RowHex(image_->ufm_rows[1])});
  EXPECT_EQ(rows_differ.status, 1);
  EXPECT_EQ(rows_differ.out,
            "row 3198 differs: device holds " + RowHex(image_->ufm_rows[0]) + "\n");
  EXPECT_EQ(Tool({"compare-rows", state_path_, "3837=" + RowHex(image_->ufm_rows[639])}).out,
            "match\n");
  const Outcome rows = Tool({"rows", state_path_, "3198", "1"});
  EXPECT_EQ(rows.out, "3198 ufm " + RowHex(image_->ufm_rows[0]) + "\n");
  EXPECT_NE(Tool({"dump", state_path_}).out.find("done fuse          1"), std::string::npos);

  // Another image is not there.
  image_->cf_rows[2000][9] ^= 0x04;
  WriteRawImage(*image_, image_path_);
  compare = Tool({"compare", state_path_, image_path_});
  EXPECT_EQ(compare.status, 1);
  EXPECT_EQ(compare.out, "mismatch: 1 rows differ (first CF row 2000, first UFM row -1);\n");
  EXPECT_EQ(Client({"verify", image_path_}, {state}).out, "differs at row 2000\n");
}

TEST_F(SimDropInTest, ToolCreatesAndExportsStateFiles) {
  ASSERT_EQ(Tool({"init", state_path_, image_path_}).status, 0);
  EXPECT_EQ(Tool({"compare", state_path_, image_path_}).status, 0);
  const std::string exported = dir_.path() + "/exported.bin";
  ASSERT_EQ(Tool({"export", state_path_, exported}).status, 0);
  EXPECT_EQ(sim_test::ReadFile(exported), sim_test::ReadFile(image_path_));

  ASSERT_EQ(Tool({"init", state_path_}).status, 0);
  const Outcome blank = Tool({"compare", state_path_, image_path_});
  EXPECT_EQ(blank.status, 1);
  EXPECT_EQ(blank.out,
            "mismatch: 3838 rows differ (first CF row 0, first UFM row 0); USERCODE differs; DONE "
            "not programmed;\n");
  const Outcome hashes = Tool({"hash", state_path_});
  EXPECT_EQ(hashes.status, 0);
  EXPECT_NE(hashes.out.find("cf       "), std::string::npos);

  EXPECT_EQ(Tool({"compare", state_path_, state_path_}).status, 2) << "not a raw image";
  EXPECT_EQ(Tool({"dump", dir_.path() + "/none"}).status, 2);
  EXPECT_EQ(Tool({"frobnicate", state_path_}).status, 2);
}

TEST_F(SimDropInTest, EnvironmentFaultsAndReportsReachTheProgram) {
  Outcome id = Client({"id"}, {"FUSEKIT_SIM_DEVICE_ID=0x1"});
  EXPECT_EQ(id.out, "id 0x00000001\n");

  const std::string transcript = dir_.path() + "/transcript";
  const Outcome update = Client(
      {"update", image_path_},
      {"FUSEKIT_SIM_FAULTS=corrupt-cf=3", "FUSEKIT_SIM_REPORT=-", "FUSEKIT_SIM_TRANSCRIPT=" + transcript});
  EXPECT_EQ(update.status, 1);
  EXPECT_EQ(update.out, "failed: verify CF\n");
  EXPECT_NE(update.err.find("fusekit-sim: "), std::string::npos);
  EXPECT_NE(update.err.find(" 70=3198"), std::string::npos) << update.err;
  const std::string lines = sim_test::ReadFile(transcript);
  EXPECT_EQ(lines.rfind("#1 ", 0), 0u);
  EXPECT_NE(lines.find("writeread E0 00 00 00 -> 01 2B B0 43 = 8"), std::string::npos);
}

TEST_F(SimDropInTest, BadConfigurationFailsEveryTransferAndKeepsTheStateFile) {
  ASSERT_EQ(Tool({"init", state_path_, image_path_}).status, 0);
  const std::string before = sim_test::ReadFile(state_path_);
  for (const std::string& bad :
       {std::string("FUSEKIT_SIM_FAULTS=refresh-sometimes"), std::string("FUSEKIT_SIM_FEABITS=12x")}) {
    SCOPED_TRACE(bad);
    const Outcome update = Client({"update", image_path_}, {"FUSEKIT_SIM_STATE=" + state_path_, bad});
    EXPECT_EQ(update.status, 1);
    EXPECT_EQ(update.out, "failed: device ID\n");
    EXPECT_EQ(CountLinesStartingWith(update.err, "fusekit-sim: "), 1) << update.err;
    EXPECT_EQ(sim_test::ReadFile(state_path_), before);
  }

  std::ofstream(state_path_, std::ios::app) << "garbage\n";
  const std::string damaged = sim_test::ReadFile(state_path_);
  const Outcome id = Client({"id"}, {"FUSEKIT_SIM_STATE=" + state_path_});
  EXPECT_EQ(id.status, 1);
  EXPECT_EQ(CountLinesStartingWith(id.err, "fusekit-sim: "), 1) << id.err;
  EXPECT_NE(id.err.find("text after \"end\""), std::string::npos) << id.err;
  EXPECT_EQ(sim_test::ReadFile(state_path_), damaged);
}

}  // namespace
