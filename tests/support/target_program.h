// Starts a program built for the target from a test and collects what it prints. On a native
// build the program runs directly; on a cross build (where the test itself runs under the
// emulator) the host kernel cannot run it, so it is started through the same emulator.
#ifndef FUSEKIT_TEST_TARGET_PROGRAM_H
#define FUSEKIT_TEST_TARGET_PROGRAM_H

#include <string>
#include <vector>

namespace target_program {

struct Outcome {
  int exit_status;  // the exit status, or 128 + the signal that ended the program, or -1
  std::string out;
  std::string err;
};

// The command line that runs `program` with `arguments` on this build: the emulator first, if any.
std::vector<std::string> Command(const std::string& program,
                                 const std::vector<std::string>& arguments = {});

// Runs `program` with `arguments` and waits for it. `environment` ("NAME=value", e.g. LD_PRELOAD
// or LD_LIBRARY_PATH for the program) is added to the test's own environment. The program is
// started directly, never through a shell: a host shell would try to load target libraries
// named in LD_PRELOAD.
Outcome Run(const std::string& program, const std::vector<std::string>& arguments = {},
            const std::vector<std::string>& environment = {});

}  // namespace target_program

#endif
