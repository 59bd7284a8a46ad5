// Temporary directories and file reading for the simulator's tests.
#ifndef FUSEKIT_TESTS_SIM_TEMP_DIR_H
#define FUSEKIT_TESTS_SIM_TEMP_DIR_H

#include <fstream>
#include <iterator>
#include <string>

#include "temp_dir.h"

namespace sim_test {

using ::TempDir;

// The whole content of a file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace sim_test

#endif
