// The diagnostics of every module in captured output, as "module: text" lines, so that a test
// can check the whole chain that one failure writes (bus error, query, sequence step).
#ifndef FUSEKIT_TEST_DIAGNOSTIC_LINES_H
#define FUSEKIT_TEST_DIAGNOSTIC_LINES_H

#include <regex>
#include <string>
#include <vector>

inline std::vector<std::string> DiagnosticLines(const std::string& output) {
  std::vector<std::string> lines;
  const std::regex prefix(R"(^\(([a-z_]+):[0-9]+\) (.*)$)");
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    std::smatch match;
    lines.push_back(std::regex_match(line, match, prefix) ? match[1].str() + ": " + match[2].str()
                                                          : line);
    start = end + 1;
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

#endif
