// The progress file: percentages per step, forced values, reading back, paths and failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fusekit.h"
#include "output_capture.h"
#include "temp_dir.h"
#include "upgrade_progress_internal.h"

namespace {

using output_capture::DiagnosticTexts;
using Lines = std::vector<std::string>;

class Progress : public testing::Test {
 protected:
  // Points the module at a fresh file with `total` steps and a count of 0.
  void Start(uint32_t total) {
    ASSERT_EQ(InitUpdateProgress(path_.c_str(), total), 0);
    ASSERT_EQ(ResetProgress(), 0);
  }
  std::string Text() const { return FileText(path_); }

  TempDir dir_;
  std::string path_ = dir_.File("progress");
};

// What the file shows after steps first..last (inclusive), counted from a fresh start.
struct StepCase {
  uint32_t total;
  uint32_t first_step;
  uint32_t last_step;
  const char* shown;
};

TEST_F(Progress, EachStepWritesItsPercentage) {
  const StepCase cases[] = {
      {7676, 1, 76, "0"},       {7676, 77, 77, "1"},     {7676, 3838, 3838, "50"},
      {7676, 7599, 7599, "98"}, {7676, 7600, 7676, "99"},
      {100, 53, 53, "52"},  // 0.53f * 100.0f is just below 53 in single precision
      {100, 59, 59, "58"},      {100, 60, 60, "60"},
      {1, 1, 2, "99"},          {1, 3, 3, "44"},  // 300 keeps its low 8 bits
      {0, 1, 300, "99"},                           // infinity saturates, then 255 is capped
  };
  // One run per total, checking the file after each step that a case names.
  for (const uint32_t total : {7676u, 100u, 1u, 0u}) {
    uint32_t last = 0;
    for (const StepCase& c : cases) {
      if (c.total == total && c.last_step > last) last = c.last_step;
    }
    Start(total);
    for (uint32_t step = 1; step <= last; ++step) {
      ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
      for (const StepCase& c : cases) {
        if (c.total == total && step >= c.first_step && step <= c.last_step) {
          ASSERT_EQ(Text(), c.shown) << "total " << total << ", step " << step;
        }
      }
    }
  }
}

TEST(ProgressPercentage, SingleFloatTruncationSaturationAndLowByte) {
  struct Case {
    uint32_t finished, total, percentage;
  } const cases[] = {
      {77, 7676, 1},
      {7676, 7676, 99},        // a finished operation still shows 99
      {10000000, 1, 0},        // 1e9 = 0x3B9ACA00: the low byte is 0
      {42949673, 1, 99},       // rounds to 2^32 in single precision: saturates, not wraps to 0
      {UINT32_MAX, 1, 99},     // far beyond 2^32
      {UINT32_MAX, UINT32_MAX, 99},
      {1, UINT32_MAX, 0},
      {5, 0, 99},              // +infinity
      {0, 0, 0},               // NaN, after the count has wrapped with a total of 0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressPercentage(c.finished, c.total), c.percentage)
        << c.finished << " of " << c.total;
  }
}

TEST_F(Progress, UpdateWritesTheValueCappedAt100WithoutLineEnd) {
  Start(1);
  const struct {
    uint32_t value;
    const char* shown;
  } cases[] = {{0, "0"}, {7, "7"}, {100, "100"}, {101, "100"}, {150, "100"},
               {4294967295u, "100"}};
  for (const auto& c : cases) {
    output_capture::StartStderr();
    EXPECT_EQ(UpdateProgress(c.value), 0);
    EXPECT_EQ(output_capture::TakeStderr(), "");
    EXPECT_EQ(Text(), c.shown) << c.value;
  }
}

TEST_F(Progress, ReadProgressCases) {
  Start(1);
  struct Case {
    const char* content;
    int result;
    uint8_t value;        // expected in *p_progress (0xEE: left alone)
    const char* report;   // nullptr: silent
  } const cases[] = {
      {"100", 0, 100, nullptr},
      {"0", 0, 0, nullptr},
      {" 42\n", 0, 42, nullptr},
      {"\t\n42abc", 0, 42, nullptr},
      {"+7", 0, 7, nullptr},
      {"-0", 0, 0, nullptr},
      {"0000000000000000000000042", 0, 42, nullptr},
      {"101", -1, 0xEE, "The progress value 0x65 is invalid"},
      {"-1", -1, 0xEE, "The progress value 0xffffffff is invalid"},
      {"2147483647", -1, 0xEE, "The progress value 0x7fffffff is invalid"},
      {"-2147483648", -1, 0xEE, "The progress value 0x80000000 is invalid"},
      // Beyond a 32-bit int: saturated, so never read as a small value by wrapping around.
      {"4294967297", -1, 0xEE, "The progress value 0x7fffffff is invalid"},
      {"99999999999999999999999", -1, 0xEE, "The progress value 0x7fffffff is invalid"},
      {"-4294967295", -1, 0xEE, "The progress value 0x80000000 is invalid"},
      {"", -1, 0xEE, "Fail to read progress value"},
      {"   \n", -1, 0xEE, "Fail to read progress value"},
      {"abc", -1, 0xEE, "Fail to read progress value"},
      {"-", -1, 0xEE, "Fail to read progress value"},
      {"+ 5", -1, 0xEE, "Fail to read progress value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "file \"" << c.content << "\"");
    WriteFile(path_, c.content);
    uint8_t value = 0xEE;
    output_capture::StartStderr();
    EXPECT_EQ(ReadProgress(&value), c.result);
    const Lines lines = DiagnosticTexts(output_capture::TakeStderr(), "upgrade_progress");
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(lines, c.report == nullptr ? Lines{} : Lines{c.report});
  }
}

TEST_F(Progress, ReadProgressRefusesNullAndMissingFile) {
  Start(1);
  output_capture::StartStderr();
  EXPECT_EQ(ReadProgress(nullptr), -1);
  EXPECT_EQ(DiagnosticTexts(output_capture::TakeStderr(), "upgrade_progress"),
            Lines{"p_progress is NULL"});

  const std::string missing = dir_.File("missing");
  ASSERT_EQ(InitUpdateProgress(missing.c_str(), 1), 0);
  uint8_t value = 0xEE;
  output_capture::StartStderr();
  EXPECT_EQ(ReadProgress(&value), -1);
  EXPECT_EQ(DiagnosticTexts(output_capture::TakeStderr(), "upgrade_progress"),
            Lines{"Fail to open " + missing});
  EXPECT_EQ(value, 0xEE);
}

TEST_F(Progress, InitKeepsThePathWhenNullOrTooLongButAlwaysTakesTheTotal) {
  // A path of 63 characters fits the buffer, one of 64 does not.
  const std::string prefix = dir_.path() + "/";
  ASSERT_LT(prefix.size(), 60u) << "temp directory too long for this test";
  const std::string path63 = prefix + std::string(63 - prefix.size(), 'p');
  const std::string path64 = prefix + std::string(64 - prefix.size(), 'q');

  ASSERT_EQ(InitUpdateProgress(path63.c_str(), 7676), 0);
  ASSERT_EQ(ResetProgress(), 0);
  EXPECT_EQ(FileText(path63), "0");

  // Too long: refused silently, the total replaced (1 step = 99) and the 63-character path kept.
  output_capture::StartStderr();
  EXPECT_EQ(InitUpdateProgress(path64.c_str(), 1), -1);
  EXPECT_EQ(output_capture::TakeStderr(), "");
  ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
  EXPECT_EQ(FileText(path63), "99");
  EXPECT_EQ(FileText(path64), "<missing>");

  // Null: accepted, the total replaced (step 2 of 4 shows 50) and the path kept.
  EXPECT_EQ(InitUpdateProgress(nullptr, 4), 0);
  ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
  EXPECT_EQ(FileText(path63), "50");
}

TEST_F(Progress, ResetWritesZeroAndRestartsTheCount) {
  Start(3);
  for (int step = 0; step < 500; ++step) ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
  // Init again does not reset the count: the next of 1000 steps is step 501, shown as 50.
  ASSERT_EQ(InitUpdateProgress(path_.c_str(), 1000), 0);
  ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
  EXPECT_EQ(Text(), "50");

  EXPECT_EQ(ResetProgress(), 0);
  EXPECT_EQ(Text(), "0");
  ASSERT_EQ(InitUpdateProgress(path_.c_str(), 3), 0);
  ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
  EXPECT_EQ(Text(), "33");
}

TEST_F(Progress, UnwritableFileFailsButStepsStillCount) {
  Start(4);
  const std::string unwritable = dir_.File("no_such_dir/progress");
  ASSERT_EQ(InitUpdateProgress(unwritable.c_str(), 4), 0);

  output_capture::StartStderr();
  EXPECT_EQ(UpdateProgress(50), -1);
  EXPECT_EQ(ResetProgress(), -1);
  EXPECT_EQ(output_capture::TakeStderr(), "");

  output_capture::StartStderr();
  EXPECT_EQ(FishOneStepAndUpdateProgress(), -1);
  EXPECT_EQ(FishOneStepAndUpdateProgress(), -1);
  EXPECT_EQ(DiagnosticTexts(output_capture::TakeStderr(), "upgrade_progress"),
            (Lines{"Fail to upgrade progress", "Fail to upgrade progress"}));

  // Both failed steps counted: the next one is step 3 of 4.
  ASSERT_EQ(InitUpdateProgress(path_.c_str(), 4), 0);
  ASSERT_EQ(FishOneStepAndUpdateProgress(), 0);
  EXPECT_EQ(Text(), "75");
}

}  // namespace
