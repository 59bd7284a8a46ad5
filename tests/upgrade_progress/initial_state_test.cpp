// The progress module as a process starts: no path, so nothing can be written or read until a
// path is set. Its own program, so that no other test has set a path before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fusekit.h"
#include "output_capture.h"

namespace {

using Lines = std::vector<std::string>;

TEST(ProgressAtProcessStart, NoPathUntilOneIsSet) {
  output_capture::StartStderr();
  EXPECT_EQ(UpdateProgress(5), -1);
  EXPECT_EQ(ResetProgress(), -1);
  EXPECT_EQ(InitUpdateProgress(nullptr, 2), 0);  // keeps the empty path
  EXPECT_EQ(FishOneStepAndUpdateProgress(), -1);
  uint8_t value = 0xEE;
  EXPECT_EQ(ReadProgress(&value), -1);
  EXPECT_EQ(output_capture::DiagnosticTexts(output_capture::TakeStderr(), "upgrade_progress"),
            (Lines{"Fail to upgrade progress", "Fail to open "}));
  EXPECT_EQ(value, 0xEE);
}

}  // namespace
