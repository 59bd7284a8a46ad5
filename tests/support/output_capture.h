// Captures what the code under test writes to standard error or standard output.
#ifndef FUSEKIT_TEST_OUTPUT_CAPTURE_H
#define FUSEKIT_TEST_OUTPUT_CAPTURE_H

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace output_capture {

inline void StartStderr() { testing::internal::CaptureStderr(); }
inline std::string TakeStderr() { return testing::internal::GetCapturedStderr(); }
inline void StartStdout() { testing::internal::CaptureStdout(); }
inline std::string TakeStdout() { return testing::internal::GetCapturedStdout(); }

// The texts of the diagnostics in `output`, each "(module:line) text" with the prefix checked
// against `module` and stripped. A prefix of another form yields the raw line, so it fails to match.
inline std::vector<std::string> DiagnosticTexts(const std::string& output, const char* module) {
  std::vector<std::string> texts;
  const std::regex prefix(std::string("^\\(") + module + ":[0-9]+\\) (.*)$");
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    std::smatch match;
    texts.push_back(std::regex_match(line, match, prefix) ? match[1].str() : line);
    start = end + 1;
  }
  return texts;
}

}  // namespace output_capture

#endif
