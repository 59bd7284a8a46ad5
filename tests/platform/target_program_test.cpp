// Target programs started from a test: arguments, environment, preloaded libraries and the exit
// status reach them and come back the same on a native build and under the emulator.
#include <gtest/gtest.h>

#include "target_program.h"

namespace {

TEST(TargetProgram, PassesArgumentsEnvironmentAndPreloadAndReturnsOutputAndStatus) {
  const target_program::Outcome outcome = target_program::Run(
      TARGET_PROGRAM_PROBE, {"one", "two words"},
      {"TARGET_PROGRAM_PROBE=given", std::string("LD_PRELOAD=") + VIRTUAL_CLOCK_LIBRARY});
  EXPECT_EQ(outcome.exit_status, 3);
  EXPECT_EQ(outcome.out,
            "argument one\nargument two words\nvariable given\nvirtual clock preloaded\n");
  // Nothing else on standard error: no loader complaint about a library of the wrong class.
  EXPECT_EQ(outcome.err, "to standard error\n");
}

TEST(TargetProgram, WithoutPreloadTheProgramRunsPlain) {
  const target_program::Outcome outcome = target_program::Run(TARGET_PROGRAM_PROBE);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.out, "variable (unset)\nvirtual clock absent\n");
}

TEST(TargetProgram, MissingProgramFails) {
  const target_program::Outcome outcome = target_program::Run("/nonexistent/program");
  EXPECT_NE(outcome.exit_status, 0);
}

}  // namespace
