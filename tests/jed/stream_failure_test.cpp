// A fuse file that cannot be read to its end or cannot be closed. This test program replaces
// getline and fclose with versions that call the C library's and then, when armed, report
// failure.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "fusekit.h"
#include "jed_test_support.h"

namespace {
bool fail_next_fclose = false;
int getline_calls_before_failure = -1;  // -1: never fail
}

extern "C" int fclose(FILE* stream) {
  using Fclose = int (*)(FILE*);
  static const Fclose real_fclose = reinterpret_cast<Fclose>(dlsym(RTLD_NEXT, "fclose"));
  const int result = real_fclose(stream);
  if (fail_next_fclose) {
    fail_next_fclose = false;
    errno = EIO;
    return EOF;
  }
  return result;
}

namespace {

// Counts a line read and tells whether this one has to fail.
bool ReadFails() {
  if (getline_calls_before_failure == 0) {
    errno = EIO;
    return true;
  }
  if (getline_calls_before_failure > 0) --getline_calls_before_failure;
  return false;
}

}  // namespace

extern "C" ssize_t getline(char** p_line, size_t* p_capacity, FILE* stream) {
  using Getline = ssize_t (*)(char**, size_t*, FILE*);
  static const Getline real_getline = reinterpret_cast<Getline>(dlsym(RTLD_NEXT, "getline"));
  return ReadFails() ? -1 : real_getline(p_line, p_capacity, stream);
}

// Optimised builds call getline through the C library's inline definition, which is this.
extern "C" ssize_t __getdelim(char** p_line, size_t* p_capacity, int delimiter, FILE* stream) {
  using Getdelim = ssize_t (*)(char**, size_t*, int, FILE*);
  static const Getdelim real_getdelim =
      reinterpret_cast<Getdelim>(dlsym(RTLD_NEXT, "__getdelim"));
  return ReadFails() ? -1 : real_getdelim(p_line, p_capacity, delimiter, stream);
}

namespace {

TEST(CloseFailure, ReplacesTheResultOfTheParse) {
  const struct {
    const char* name;
    std::string bytes;
    std::string diagnostics;
  } cases[] = {
      {"good parse", jed_test::Stx("QF5*\n"), ""},
      {"failed field", jed_test::Stx("F2*\n"),
       "The field value 0x32 is not 'F'\nFail to execute line handler\nFail to parser\n"},
      {"no start of text", "QF5*\n", "Fail to seek to start of text\n"},
  };
  jed_test::TempDir dir;
  const std::string path = dir.File("close.jed");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    jed_test::WriteBytes(path, c.bytes);
    std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
    output_capture::StartStderr();
    fail_next_fclose = true;
    const int result = ParserJEDFile(path.c_str(), record.get());
    const bool fclose_called = !fail_next_fclose;
    fail_next_fclose = false;
    EXPECT_TRUE(fclose_called);
    EXPECT_EQ(ERR_CLOSE_FIRMWARE, result);
    EXPECT_EQ(c.diagnostics + "Fail to close jedec file\nFail to close JED file\n",
              jed_test::Diagnostics(output_capture::TakeStderr()));
  }
}

// A read error is not the end of the file: the parse fails where it would otherwise have stopped
// as if the file ended there.
TEST(ReadFailure, FailsTheParse) {
  const struct {
    const char* name;
    std::string bytes;
    int good_lines;
    void (*change)(IspInfo&);
  } cases[] = {
      {"between fields", jed_test::Stx("QF5*\nF1*\n"), 1,
       [](IspInfo& r) { r.fuse_count = 5; }},
      {"inside a note", jed_test::Stx("NOTE a\nb*\nQF5*\n"), 1, nullptr},
      {"inside a fuse list", jed_test::Stx("L0\n" + jed_test::RowText(0) + "\n*\nQF5*\n"), 1,
       nullptr},
      {"on the first line", jed_test::Stx("QF5*\n"), 0, nullptr},
  };
  jed_test::TempDir dir;
  const std::string path = dir.File("read.jed");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    jed_test::WriteBytes(path, c.bytes);
    std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
    std::unique_ptr<IspInfo> expected = jed_test::MarkedRecord();
    if (c.change != nullptr) c.change(*expected);
    output_capture::StartStderr();
    getline_calls_before_failure = c.good_lines;
    const int result = ParserJEDFile(path.c_str(), record.get());
    getline_calls_before_failure = -1;
    EXPECT_EQ(ERR_PARSE_FIRMWARE, result);
    EXPECT_EQ("Fail to read line: Input/output error\nFail to parser\n",
              jed_test::Diagnostics(output_capture::TakeStderr()));
    EXPECT_TRUE(jed_test::SameRecord(*expected, *record))
        << jed_test::RecordDifference(*expected, *record);
  }
}

}  // namespace
