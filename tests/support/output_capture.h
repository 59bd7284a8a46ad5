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

// The lines of `output`, without their line feeds; a last line without one counts too.
inline std::vector<std::string> Lines(const std::string& output) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    lines.push_back(output.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The texts of the diagnostics in `output`, each "(module:line) text" with the prefix checked
// against `module` and stripped. A prefix of another form yields the raw line, so it fails to match.
inline std::vector<std::string> DiagnosticTexts(const std::string& output, const char* module) {
  std::vector<std::string> texts;
  const std::regex prefix(std::string("^\\(") + module + ":[0-9]+\\) (.*)$");
  for (const std::string& line : Lines(output)) {
    std::smatch match;
    texts.push_back(std::regex_match(line, match, prefix) ? match[1].str() : line);
  }
  return texts;
}

// The diagnostics of every module in `output` as "module: text" lines, so that a test can check
// the whole chain that one failure writes (bus error, query, sequence step).
inline std::vector<std::string> DiagnosticLines(const std::string& output) {
  std::vector<std::string> lines;
  const std::regex prefix(R"(^\(([a-z_]+):[0-9]+\) (.*)$)");
  for (const std::string& line : Lines(output)) {
    std::smatch match;
    lines.push_back(std::regex_match(line, match, prefix) ? match[1].str() + ": " + match[2].str()
                                                          : line);
  }
  return lines;
}

// Only the lines of one module, as "module: text".
inline std::vector<std::string> DiagnosticLinesOf(const std::string& output,
                                                  const std::string& module) {
  std::vector<std::string> lines;
  for (const std::string& line : DiagnosticLines(output)) {
    if (line.compare(0, module.size() + 2, module + ": ") == 0) lines.push_back(line);
  }
  return lines;
}

}  // namespace output_capture

#endif
