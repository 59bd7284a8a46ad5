// Shared by the fuse file reader's tests: a temporary directory for fuse files, parsing a text
// with its diagnostics captured, and a record filled with a marker byte to see what a parse wrote.
#ifndef FUSEKIT_TEST_JED_TEST_SUPPORT_H
#define FUSEKIT_TEST_JED_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fusekit.h"
#include "output_capture.h"
#include "temp_dir.h"

namespace jed_test {

// A directory for the test's files, removed with them at the end of the test.
using ::TempDir;

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << "cannot write " << path;
}

// The jed diagnostics with their "(jed:line) " prefixes taken out: a report that starts a line
// loses its prefix, one that continues the line of a report without a line end gets "|" instead,
// so "line size 0 is incorrect|Fail to parser\n" is two reports on one output line. Output that
// is not a jed diagnostic stays as it is.
inline std::string Diagnostics(const std::string& output) {
  const std::string marked = std::regex_replace(output, std::regex("\\(jed:[0-9]+\\) "), "\x01");
  std::string text;
  for (size_t i = 0; i < marked.size(); ++i) {
    if (marked[i] != '\x01') {
      text += marked[i];
    } else if (i > 0 && marked[i - 1] != '\n') {
      text += '|';
    }
  }
  return text;
}

// A record with every byte set to 0xA5, so that whatever a parse writes shows.
inline std::unique_ptr<IspInfo> MarkedRecord() {
  std::unique_ptr<IspInfo> record(new IspInfo);
  std::memset(record.get(), 0xA5, sizeof(IspInfo));
  return record;
}

// Where two records differ, for a failure message.
inline std::string RecordDifference(const IspInfo& expected, const IspInfo& actual) {
  std::ostringstream out;
  if (expected.feabits != actual.feabits)
    out << "feabits " << std::hex << expected.feabits << " != " << actual.feabits << "; ";
  if (expected.usercode != actual.usercode)
    out << "usercode " << std::hex << expected.usercode << " != " << actual.usercode << "; ";
  if (expected.default_fuse_state != actual.default_fuse_state)
    out << "default_fuse_state " << expected.default_fuse_state << " != "
        << actual.default_fuse_state << "; ";
  if (expected.fuse_count != actual.fuse_count)
    out << "fuse_count " << expected.fuse_count << " != " << actual.fuse_count << "; ";
  int differing_rows = 0, first = -1;
  for (int row = 0; row < ISP_ROW_COUNT; ++row) {
    const uint8_t* e = row < ISP_CF_ROW_COUNT ? expected.cf_rows[row]
                                              : expected.ufm_rows[row - ISP_CF_ROW_COUNT];
    const uint8_t* a = row < ISP_CF_ROW_COUNT ? actual.cf_rows[row]
                                              : actual.ufm_rows[row - ISP_CF_ROW_COUNT];
    if (std::memcmp(e, a, ISP_ROW_SIZE) != 0) {
      if (first < 0) first = row;
      ++differing_rows;
    }
  }
  if (differing_rows > 0) out << differing_rows << " rows differ, first row " << first;
  return out.str();
}

inline bool SameRecord(const IspInfo& expected, const IspInfo& actual) {
  return std::memcmp(&expected, &actual, sizeof(IspInfo)) == 0;
}

struct Outcome {
  int result;
  std::string diagnostics;
};

// Writes `bytes` to a file in `dir` and parses it into `p_record`, capturing the diagnostics.
inline Outcome ParseBytes(const TempDir& dir, const std::string& bytes, IspInfo* p_record) {
  const std::string path = dir.File("input.jed");
  WriteBytes(path, bytes);
  output_capture::StartStderr();
  const int result = ParserJEDFile(path.c_str(), p_record);
  return {result, Diagnostics(output_capture::TakeStderr())};
}

// The 128 characters of a row whose bits follow from `seed`.
inline std::string RowText(unsigned seed) {
  std::string text(128, '0');
  uint32_t state = seed * 2654435761u + 12345u;
  for (char& c : text) {
    state = state * 1103515245u + 12345u;
    c = (state >> 16) & 1u ? '1' : '0';
  }
  return text;
}

// A row's 16 bytes from its 128 characters: character j is bit 7 - j % 8 of byte j / 8.
inline void RowBytes(const std::string& text, uint8_t* p_row) {
  for (int byte = 0; byte < ISP_ROW_SIZE; ++byte) {
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (text[static_cast<size_t>(byte * 8 + bit)] == '1') value |= static_cast<uint8_t>(0x80 >> bit);
    }
    p_row[byte] = value;
  }
}

inline uint8_t* Row(IspInfo& record, int row) {
  return row < ISP_CF_ROW_COUNT ? record.cf_rows[row] : record.ufm_rows[row - ISP_CF_ROW_COUNT];
}

// One fuse file and what parsing it into a marked record must give: the result, the diagnostics
// (as Diagnostics() shows them) and the record, described as the changes to the marked record
// (none: the record stays as it was).
struct FileCase {
  const char* name;
  std::string bytes;
  int result;
  std::string diagnostics;
  std::function<void(IspInfo&)> change;
};

inline void RunFileCases(const std::vector<FileCase>& cases) {
  TempDir dir;
  for (const FileCase& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    std::unique_ptr<IspInfo> record = MarkedRecord();
    std::unique_ptr<IspInfo> expected = MarkedRecord();
    if (test_case.change) test_case.change(*expected);
    const Outcome outcome = ParseBytes(dir, test_case.bytes, record.get());
    EXPECT_EQ(test_case.result, outcome.result);
    EXPECT_EQ(test_case.diagnostics, outcome.diagnostics);
    EXPECT_TRUE(SameRecord(*expected, *record)) << RecordDifference(*expected, *record);
  }
}

// The file's text after the start-of-text byte.
inline std::string Stx(const std::string& text) { return std::string(1, '\x02') + text; }

}  // namespace jed_test

#endif
