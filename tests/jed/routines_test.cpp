// The reader's routines called directly: line reading and trimming, the terminator and field
// length, the copy into a string, value formats, the bit-string conversion, and the handler
// checks that a file cannot reach through the keyword dispatch.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fusekit.h"
#include "jed_internal.h"
#include "jed_test_support.h"

namespace {

// A stream over `bytes` and the reader's state for it.
class Lines {
 public:
  explicit Lines(const std::string& bytes) : bytes_(bytes) {
    file_.fp = fmemopen(bytes_.empty() ? nullptr : &bytes_[0], bytes_.size(), "r");
    file_.read_failed = false;
  }
  ~Lines() {
    std::fclose(file_.fp);
    std::free(line_.buffer);
  }
  int Next() { return ReadNextLineAndTrim(&file_, &line_); }
  JedFile* file() { return &file_; }
  JedLine* line() { return &line_; }

 private:
  std::string bytes_;
  JedFile file_;
  JedLine line_ = {nullptr, 0, 0, 0};
};

TEST(ReadNextLineAndTrim, TrimsLfAndCrLfOnly) {
  const char kText[] = "a\nb\r\nc\rd\r\r\n\n\r\ne\0f\nlast";
  Lines lines(std::string(kText, sizeof(kText) - 1));
  struct Expected {
    std::string text;
    int32_t length;
    size_t read_size;
  } expected[] = {{"a\n", 1, 2},         {"b\r\n", 1, 3}, {"c\rd\r\r\n", 4, 6}, {"\n", 0, 1},
                  {"\r\n", 0, 2},        {std::string("e\0f\n", 4), 3, 4},
                  {"last", 4, 4}};
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.text);
    ASSERT_EQ(1, lines.Next());
    EXPECT_EQ(e.length, lines.line()->length);
    EXPECT_EQ(e.read_size, lines.line()->read_size);
    EXPECT_EQ(e.text, std::string(lines.line()->buffer, e.read_size));
    EXPECT_EQ('\0', lines.line()->buffer[e.read_size]);
  }
  EXPECT_EQ(0, lines.Next());
  EXPECT_EQ(0, lines.Next());
  EXPECT_FALSE(lines.file()->read_failed);
}

TEST(CheckFieldTerminator, FindsTheTerminatorAnywhereInTheLine) {
  Lines lines(std::string("ab*\nabc\n*\nx\0*\n\n", 15));
  for (uint8_t expected : {1, 0, 1, 1}) {
    ASSERT_EQ(1, lines.Next());
    uint8_t flag = 7;
    EXPECT_EQ(0, CheckFieldTerminator(lines.line(), &flag));
    EXPECT_EQ(expected, flag);
  }
  ASSERT_EQ(1, lines.Next());
  uint8_t flag = 7;
  output_capture::StartStderr();
  EXPECT_EQ(-1, CheckFieldTerminator(lines.line(), &flag));
  EXPECT_EQ("line size 0 is incorrect", jed_test::Diagnostics(output_capture::TakeStderr()));
  EXPECT_EQ(7, flag);
}

TEST(ConvertToString, CopiesTheCharactersBeforeTheFirstTerminator) {
  struct Case {
    std::string line;
    uint32_t size;
    int result;
    std::string value;
    std::string diagnostics;
  } cases[] = {
      {"UH12*34*\n", 5, 0, "UH12", ""},
      {"*\n", 1, 0, "", ""},
      {std::string("UH1\0" "2*\n", 7), 8, 0, "UH1", ""},
      {"UH12*\n", 4, -1, "", "String buffer is insufficient\n"},
      {"UH12\n", 64, -1, "",
       "This line doesn't contain field terminator\nFail to get field lenght\n"},
      {"\n", 64, -1, "",
       "line size 0 is incorrect|Fail to check field terminator\nFail to get field lenght\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Lines lines(c.line);
    ASSERT_EQ(1, lines.Next());
    std::vector<char> buffer(c.size + 1, 'x');
    output_capture::StartStderr();
    EXPECT_EQ(c.result, ConvertToString(lines.line(), buffer.data(), c.size));
    EXPECT_EQ(c.diagnostics, jed_test::Diagnostics(output_capture::TakeStderr()));
    if (c.result == 0) {
      EXPECT_EQ(c.value, std::string(buffer.data()));
    }
    EXPECT_EQ('x', buffer[c.size]) << "written past the buffer";
  }
}

TEST(GetFieldValueFormatType, KnowsA_H_0_And1Only) {
  const struct {
    char character;
    int result;
    JEDECFieldValueFormat format;
  } cases[] = {
      {'A', 0, JEDECFieldValueFormatAscii},  {'H', 0, JEDECFieldValueFormatHex},
      {'0', 0, JEDECFieldValueFormatBinary}, {'1', 0, JEDECFieldValueFormatBinary},
      {'a', -1, JEDECFieldValueFormatNone},  {'h', -1, JEDECFieldValueFormatNone},
      {'2', -1, JEDECFieldValueFormatNone},  {'\0', -1, JEDECFieldValueFormatNone},
      {'*', -1, JEDECFieldValueFormatNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.character));
    JEDECFieldValueFormat format = JEDECFieldValueFormatNone;
    EXPECT_EQ(c.result, GetFieldValueFormatType(c.character, &format));
    EXPECT_EQ(c.format, format);
  }
}

// The conversion against the bit-by-bit rule, for every byte value, both bit orders, every start
// alignment and lengths that end inside a byte; bits outside the string stay as they were.
TEST(BitStringToBytes, MatchesTheBitByBitRule) {
  for (uint8_t msb_first : {0, 1}) {
    for (int value = 0; value < 256; ++value) {
      std::string bits;
      for (int i = 0; i < 24; ++i) bits += ((value * 0x010101 + i) >> (i % 8)) & 1 ? '1' : '0';
      for (uint32_t count : {0u, 3u, 8u, 13u, 16u, 24u}) {
        uint8_t bytes[4] = {0x5A, 0x5A, 0x5A, 0x5A};
        uint8_t expected[4] = {0x5A, 0x5A, 0x5A, 0x5A};
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t mask = static_cast<uint8_t>(1u << (msb_first ? 7 - i % 8 : i % 8));
          expected[i / 8] = static_cast<uint8_t>(bits[i] == '1' ? expected[i / 8] | mask
                                                               : expected[i / 8] & ~mask);
        }
        ASSERT_EQ(0, BitStringToBytes(bits.data(), count, bytes, 3, msb_first));
        ASSERT_EQ(0, std::memcmp(expected, bytes, 4))
            << "value " << value << " count " << count << " msb_first " << int{msb_first};
      }
    }
  }
}

TEST(BitStringToBytes, StopsAtABadCharacterOrTheEndOfTheBuffer) {
  const struct {
    std::string bits;
    uint32_t byte_count;
    std::string diagnostics;
    uint8_t bytes[3];
  } cases[] = {
      {"11111111" "1112", 3, "The value (0x32) of 11th bit is invalid\n", {0xFF, 0xE0, 0x00}},
      {"0000000\xff", 3, "The value (0xff) of 7th bit is invalid\n", {0x00, 0x00, 0x00}},
      {"11111111" "11111111" "1", 2, "The byte index 2 is over buffer size 2\n",
       {0xFF, 0xFF, 0x00}},
      {"1", 0, "The byte index 0 is over buffer size 0\n", {0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    uint8_t bytes[3] = {};
    output_capture::StartStderr();
    EXPECT_EQ(-1, BitStringToBytes(c.bits.data(), static_cast<uint32_t>(c.bits.size()), bytes,
                                   c.byte_count, 1));
    EXPECT_EQ(c.diagnostics, jed_test::Diagnostics(output_capture::TakeStderr()));
    EXPECT_EQ(0, std::memcmp(c.bytes, bytes, 3));
  }
}

// Checks of the handlers that the dispatch never lets a file reach: the keyword was matched, and
// a one-line field ends on its first line.
TEST(LineHandlers, RefuseWrongKeywordsAndExtraLines) {
  using Handler = int (*)(uint32_t, JedLine*, IspInfo*);
  const struct {
    const char* name;
    Handler handler;
    uint32_t index;
    std::string line;
    std::string diagnostics;
  } cases[] = {
      {"F keyword", DefaultFuseStateLineHandler, 0, "X1*", "The field syntax X is not 'F'\n"},
      {"F second line", DefaultFuseStateLineHandler, 1, "F1*",
       "The field \"Default Fuse State\" is one-line field\n"},
      {"QF first character", FuseCountLineHandler, 0, "XF1*",
       "The first character of field syntax X is not 'Q'\n"},
      {"QF second character", FuseCountLineHandler, 0, "QX1*",
       "The second character of field syntax X is not 'F'\n"},
      {"QF second line", FuseCountLineHandler, 1, "QF1*",
       "The field \"Fuse Count\" is one-line field\n"},
      {"U keyword", UserCodeLineHandler, 0, "XH1*",
       "The first character of field syntax X is not 'U'\n"},
      {"U second line", UserCodeLineHandler, 1, "UH1*",
       "The field \"U Field\" is one-line field\n"},
      {"E keyword", FeatureRowLineHandler, 0, "XH",
       "The first character of field syntax X is not 'E'\n"},
      {"E third line", FeatureRowLineHandler, 2, "1*",
       "The field \"E Field\" only has two lines\n"},
  };
  std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Lines lines(c.line);
    ASSERT_EQ(1, lines.Next());
    output_capture::StartStderr();
    EXPECT_EQ(-1, c.handler(c.index, lines.line(), record.get()));
    EXPECT_EQ(c.diagnostics, jed_test::Diagnostics(output_capture::TakeStderr()));
  }
  std::unique_ptr<IspInfo> untouched = jed_test::MarkedRecord();
  EXPECT_TRUE(jed_test::SameRecord(*untouched, *record));
}

TEST(LineHandlers, ValueLineWithoutAnnouncedFormatIsRefused) {
  feature_row_value_format = JEDECFieldValueFormatNone;
  Lines lines("1*\n");
  ASSERT_EQ(1, lines.Next());
  std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
  output_capture::StartStderr();
  EXPECT_EQ(-1, FeatureRowLineHandler(1, lines.line(), record.get()));
  EXPECT_EQ("Unknown field value format type 3\n",
            jed_test::Diagnostics(output_capture::TakeStderr()));
}

TEST(ParseFuseListField, RefusesAWrongKeywordAndAnEmptyLine) {
  std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
  const struct {
    std::string line;
    std::string diagnostics;
  } cases[] = {
      {"X0\n", "The first character of field syntax X is not 'L'\n"},
      {"\n", "line size 0 is incorrect"},
  };
  for (const auto& c : cases) {
    Lines lines(c.line);
    ASSERT_EQ(1, lines.Next());
    output_capture::StartStderr();
    EXPECT_EQ(-1, ParseFuseListField(lines.file(), lines.line(), record.get()));
    EXPECT_EQ(c.diagnostics, jed_test::Diagnostics(output_capture::TakeStderr()));
  }
}

}  // namespace
