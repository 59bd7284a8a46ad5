// ParserJEDFile's scanning: the start of text, lines and line ends, dispatch by keyword, skipped
// fields, the end of text, and what a failure stops.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fusekit.h"
#include "jed_test_support.h"

namespace {

using jed_test::FileCase;
using jed_test::RunFileCases;
using jed_test::Stx;

const std::string kEtx(1, '\x03');

TEST(ParserJEDFile, RefusesNullArgumentsAndMissingFiles) {
  jed_test::TempDir dir;
  std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
  const std::string missing = dir.File("missing.jed");
  struct Case {
    const char* path;
    IspInfo* p_record;
    int result;
    std::string diagnostics;
  } cases[] = {
      {nullptr, record.get(), -1, "jed_file_path is NULL\n"},
      {nullptr, nullptr, -1, "jed_file_path is NULL\n"},
      {missing.c_str(), nullptr, -1, "p_isp_info is NULL\n"},
      {missing.c_str(), record.get(), ERR_OPEN_FIRMWARE, "Fail to open file:" + missing + "\n"},
  };
  for (const Case& c : cases) {
    output_capture::StartStderr();
    EXPECT_EQ(c.result, ParserJEDFile(c.path, c.p_record));
    EXPECT_EQ(c.diagnostics, jed_test::Diagnostics(output_capture::TakeStderr()));
  }
  std::unique_ptr<IspInfo> untouched = jed_test::MarkedRecord();
  EXPECT_TRUE(jed_test::SameRecord(*untouched, *record));
}

TEST(ParserJEDFile, FindsTheStartOfText) {
  RunFileCases({
      {"bytes before the STX are ignored", std::string("QF9*\n\xff\x00\x01 ", 9) + Stx("QF8*\n"),
       0, "", [](IspInfo& r) { r.fuse_count = 8; }},
      {"no STX", "QF8*\n", ERR_PARSE_FIRMWARE, "Fail to seek to start of text\n", nullptr},
      {"empty file", "", ERR_PARSE_FIRMWARE, "Fail to seek to start of text\n", nullptr},
      {"the file ends right after the STX", Stx(""), 0, "", nullptr},
      {"the rest of the STX line is the first line", Stx("QF8*\n"), 0, "",
       [](IspInfo& r) { r.fuse_count = 8; }},
      {"a line end right after the STX is an empty line", Stx("\nQF8*\n"), ERR_PARSE_FIRMWARE,
       "line size 0 is incorrect|Fail to parser\n", nullptr},
  });
}

TEST(ParserJEDFile, ReadsLinesAndLineEnds) {
  RunFileCases({
      {"LF and CR LF", Stx("QF8*\r\nF1*\n"), 0, "",
       [](IspInfo& r) {
         r.fuse_count = 8;
         r.default_fuse_state = 1;
       }},
      {"last line without a line end is read whole", Stx("F1*\nQF8*"), 0, "",
       [](IspInfo& r) {
         r.fuse_count = 8;
         r.default_fuse_state = 1;
       }},
      {"a CR before other text stays part of the line", Stx("F1\r*\n"), ERR_PARSE_FIRMWARE,
       "The field lenght 3 is incorrect\nFail to execute line handler\nFail to parser\n",
       nullptr},
      {"an empty line where a field starts", Stx("QF8*\n\nF1*\n"), ERR_PARSE_FIRMWARE,
       "line size 0 is incorrect|Fail to parser\n", [](IspInfo& r) { r.fuse_count = 8; }},
      {"a line of only CR LF where a field starts", Stx("QF8*\r\n\r\nF1*\r\n"),
       ERR_PARSE_FIRMWARE, "line size 0 is incorrect|Fail to parser\n",
       [](IspInfo& r) { r.fuse_count = 8; }},
      {"a blank last line after the ETX", Stx("QF8*\n") + kEtx + "0000\n\n", ERR_PARSE_FIRMWARE,
       "line size 0 is incorrect|Fail to parser\n", [](IspInfo& r) { r.fuse_count = 8; }},
  });
}

TEST(ParserJEDFile, SkipsNotesAndUnknownFieldsThroughTheirTerminator) {
  RunFileCases({
      {"a note runs to the next line with the terminator", Stx("NOTE first\nQF5*\nF1*\n"), 0,
       "", [](IspInfo& r) { r.default_fuse_state = 1; }},
      {"NOTE followed by more letters is a note", Stx("NOTES\nQF5*\n"), 0, "", nullptr},
      {"a pin count line ends at once", Stx("QP28*\nQF5*\n"), 0, "",
       [](IspInfo& r) { r.fuse_count = 5; }},
      {"a line of a blank swallows the next field", Stx(" \nQF5*\nF1*\n"), 0, "",
       [](IspInfo& r) { r.default_fuse_state = 1; }},
      {"only the start of a line is a keyword", Stx("QP100* QF4096*\n"), 0, "", nullptr},
      {"N, Q and lower case start unknown fields", Stx("N5*\nQ5*\nqf5*\nf1*\n"), 0, "", nullptr},
      {"a field open at the end of the file", Stx("NOTE never ends\nstill a note\n"), 0, "",
       nullptr},
      {"an empty line inside a note", Stx("NOTE a\n\nb*\n"), ERR_PARSE_FIRMWARE,
       "line size 0 is incorrect|Fail to check field terminator\nFail to parser\n", nullptr},
      {"an empty line inside an unknown field", Stx("xyz\n\n*\n"), ERR_PARSE_FIRMWARE,
       "line size 0 is incorrect|Fail to check field terminator\nFail to parser\n", nullptr},
  });
}

TEST(ParserJEDFile, PassesOverStartAndEndOfText) {
  RunFileCases({
      {"text after the ETX on its line is ignored", Stx("QF1*\n") + kEtx + "QF5*\n", 0, "",
       [](IspInfo& r) { r.fuse_count = 1; }},
      {"lines after the ETX line are dispatched", Stx("QF1*\n") + kEtx + "\nQF5*\n", 0, "",
       [](IspInfo& r) { r.fuse_count = 5; }},
      {"a second STX at the start of a line", Stx("QF1*\n") + Stx("QF5*\n"), 0, "",
       [](IspInfo& r) { r.fuse_count = 1; }},
  });
}

TEST(ParserJEDFile, WritesFieldsInOrderAndStopsAtTheFirstFailure) {
  RunFileCases({
      {"a field listed twice: the later one stays", Stx("QF1*\nQF2*\n"), 0, "",
       [](IspInfo& r) { r.fuse_count = 2; }},
      {"fields before the failing one stay written, nothing after it is read",
       Stx("QF7*\nF1*\nUH*\nUH12*\n"), ERR_PARSE_FIRMWARE,
       "Fail to parser USERCODE value\nFail to execute line handler\nFail to parser\n",
       [](IspInfo& r) {
         r.fuse_count = 7;
         r.default_fuse_state = 1;
       }},
  });
}

TEST(ParserJEDFile, SetsTheKeywordLengthsOfTheTable) {
  const char* const syntaxes[] = {"NOTE", "F", "QF", "L", "U", "E", "\x02", "\x03"};
  for (JEDECFileFieldEntry& entry : jedec_file_format_table) entry.syntax_length = 0;
  RunFileCases({{"empty text", Stx(""), 0, "", nullptr}});
  for (int i = 0; i < JEDEC_FILE_FIELD_TYPE_COUNT; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(i, jedec_file_format_table[i].type);
    EXPECT_STREQ(syntaxes[i], jedec_file_format_table[i].syntax);
    EXPECT_EQ(std::strlen(syntaxes[i]), jedec_file_format_table[i].syntax_length);
  }
  EXPECT_EQ(JEDECFileFieldTypeStartOfTextFieldSyntax, jedec_file_format_table[6].syntax);
  EXPECT_EQ(JEDECFileFieldTypeEndOfTextFieldSyntax, jedec_file_format_table[7].syntax);
  EXPECT_EQ(0, JEDECFileFieldTypeEndOfTextFieldSyntax[1]);
}

// An entry whose handler a client has removed: its lines are passed over one by one.
TEST(ParserJEDFile, PassesOverAFieldWithoutHandler) {
  const JEDECFileFieldHandler saved = jedec_file_format_table[JEDECFileFieldTypeFuseCount].handler;
  jedec_file_format_table[JEDECFileFieldTypeFuseCount].handler = nullptr;
  RunFileCases({{"QF without handler", Stx("QF5\nF1*\n"), 0, "",
                 [](IspInfo& r) { r.default_fuse_state = 1; }}});
  jedec_file_format_table[JEDECFileFieldTypeFuseCount].handler = saved;
}

}  // namespace
