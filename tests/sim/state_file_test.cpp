// State files: a round trip keeps everything; a bad file is refused whole; a save is never seen
// half-written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "sim_device.h"
#include "sim_temp_dir.h"

namespace {

void ExpectSameState(const sim::State& a, const sim::State& b) {
  EXPECT_TRUE(a.cf == b.cf);
  EXPECT_TRUE(a.ufm == b.ufm);
  EXPECT_EQ(a.usercode, b.usercode);
  EXPECT_EQ(a.done_fuse, b.done_fuse);
  EXPECT_EQ(a.done, b.done);
  EXPECT_EQ(a.transparent, b.transparent);
  EXPECT_EQ(a.area, b.area);
  EXPECT_EQ(a.cf_pointer, b.cf_pointer);
  EXPECT_EQ(a.ufm_pointer, b.ufm_pointer);
  EXPECT_EQ(a.fail, b.fail);
  EXPECT_EQ(a.refresh_error, b.refresh_error);
  EXPECT_EQ(a.refresh_attempts, b.refresh_attempts);
}

std::set<std::string> Entries(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(SimStateFileTest, RoundTripKeepsFlashAndRegisters) {
  sim_test::TempDir dir;
  auto state = std::make_unique<sim::State>();
  state->cf[0] = {0x01, 0x02, 0x03};
  state->cf[3197].fill(0xFF);
  state->ufm[0][15] = 0x80;
  state->ufm[639].fill(0x7E);
  state->usercode = {0x78, 0x56, 0x34, 0x12};
  state->done_fuse = true;
  state->done = true;
  state->transparent = true;
  state->area = sim::Area::kUfm;
  state->cf_pointer = 3198;
  state->ufm_pointer = 17;
  state->fail = true;
  state->refresh_error = true;
  state->refresh_attempts = 12345678901ull;

  const std::string path = dir.path() + "/device.state";
  std::string error;
  ASSERT_TRUE(sim::SaveState(*state, path, &error)) << error;
  ASSERT_TRUE(sim::SaveState(*state, path, &error)) << error;  // over the old file
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"device.state"});

  auto loaded = std::make_unique<sim::State>();
  ASSERT_TRUE(sim::LoadState(path, loaded.get(), &error)) << error;
  ExpectSameState(*state, *loaded);

  sim::Device device;
  ASSERT_TRUE(device.Load(path, &error)) << error;
  EXPECT_EQ(device.row(3198 + 639)[0], 0x7E);
}

TEST(SimStateFileTest, SaveThatCannotBeDoneLeavesNothingBehind) {
  sim_test::TempDir dir;
  const auto state = std::make_unique<sim::State>();
  std::string error;
  EXPECT_FALSE(sim::SaveState(*state, dir.path() + "/missing/device.state", &error));
  EXPECT_NE(error.find("missing/device.state"), std::string::npos) << error;

  // A directory in the way of the rename: the temporary file must not stay.
  std::filesystem::create_directory(dir.path() + "/taken");
  std::filesystem::create_directory(dir.path() + "/taken/child");
  error.clear();
  EXPECT_FALSE(sim::SaveState(*state, dir.path() + "/taken", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"taken"});
}

TEST(SimStateFileTest, RefusesBadFilesAndKeepsTheState) {
  sim_test::TempDir dir;
  const std::string good_head = "fusekit-sim state 1\n";
  const struct {
    const char* what;
    std::string content;
    const char* message;
  } cases[] = {
      {"empty", "", "not a state file"},
      {"another header", "fusekit-sim state 2\nend\n", "not a state file"},
      {"no end line", good_head + "done 1\n", "truncated"},
      {"cut inside a row", good_head + "cf 5 0011", "malformed line 2"},
      {"row out of range", good_head + "cf 3198 00000000000000000000000000000000\nend\n",
       "malformed line 2"},
      {"bad hex", good_head + "ufm 1 0000000000000000000000000000000G\nend\n",
       "malformed line 2"},
      {"unknown key", good_head + "done 1\ncolour blue\nend\n", "malformed line 3"},
      {"flag not 0 or 1", good_head + "done 2\nend\n", "malformed line 2"},
      {"text after end", good_head + "end\ndone 1\n", "text after \"end\""},
  };
  for (const auto& c : cases) {
    const std::string path = dir.path() + "/bad.state";
    std::ofstream(path, std::ios::trunc) << c.content;
    sim::State state;
    state.cf[9].fill(0x99);
    std::string error;
    EXPECT_FALSE(sim::LoadState(path, &state, &error)) << c.what;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(state.cf[9][0], 0x99) << c.what;
    EXPECT_FALSE(state.done) << c.what;
  }
  sim::State state;
  std::string error;
  EXPECT_FALSE(sim::LoadState(dir.path() + "/none.state", &state, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
