// A fuse file that cannot be closed: the result becomes ERR_CLOSE_FIRMWARE, whatever the parse
// gave. This test program replaces fclose with one that closes the stream and then, when armed,
// reports failure.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "fusekit.h"
#include "jed_test_support.h"

namespace {
bool fail_next_fclose = false;
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
  const std::string path = dir.Path("close.jed");
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

}  // namespace
