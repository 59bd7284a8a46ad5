// The F, QF, L, U and E fields as the reader meets them in a file: what each stores, and the
// diagnostics and result of each way it can be wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fusekit.h"
#include "jed_test_support.h"

namespace {

using jed_test::FileCase;
using jed_test::Row;
using jed_test::RowBytes;
using jed_test::RowText;
using jed_test::RunFileCases;
using jed_test::Stx;

// The chain that follows a failing line handler.
const std::string kLineHandlerFailed = "Fail to execute line handler\nFail to parser\n";

// Bits of `value`, least significant first.
std::string BitsLsbFirst(uint32_t value, int count) {
  std::string bits;
  for (int i = 0; i < count; ++i) bits += (value >> i) & 1u ? '1' : '0';
  return bits;
}

uint32_t FourBytes(const char (&bytes)[5]) {
  uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

uint16_t TwoBytes(const char (&bytes)[3]) {
  uint16_t value;
  std::memcpy(&value, bytes, 2);
  return value;
}

TEST(DefaultFuseStateField, StoresZeroOrOneAndRejectsAnythingElse) {
  RunFileCases({
      {"F1", Stx("F1*\n"), 0, "", [](IspInfo& r) { r.default_fuse_state = 1; }},
      {"F0", Stx("F0*\n"), 0, "", [](IspInfo& r) { r.default_fuse_state = 0; }},
      {"blank before the terminator", Stx("F1 *\n"), ERR_PARSE_FIRMWARE,
       "The field lenght 3 is incorrect\n" + kLineHandlerFailed, nullptr},
      {"no value", Stx("F*\n"), ERR_PARSE_FIRMWARE,
       "The field lenght 1 is incorrect\n" + kLineHandlerFailed, nullptr},
      {"no terminator", Stx("F1\nF0*\n"), ERR_PARSE_FIRMWARE,
       "This line doesn't contain field terminator\nFail to get field lenght\n" +
           kLineHandlerFailed,
       nullptr},
      {"value 2", Stx("F2*\n"), ERR_PARSE_FIRMWARE,
       "The field value 0x32 is not 'F'\n" + kLineHandlerFailed, nullptr},
  });
}

TEST(FuseCountField, StoresTheDecimalCount) {
  RunFileCases({
      {"8192", Stx("QF8192*\n"), 0, "", [](IspInfo& r) { r.fuse_count = 8192; }},
      {"text after the terminator", Stx("QF8192*junk\n"), 0, "",
       [](IspInfo& r) { r.fuse_count = 8192; }},
      {"largest 32-bit count", Stx("QF4294967295*\n"), 0, "",
       [](IspInfo& r) { r.fuse_count = 4294967295u; }},
      {"29 digits fill the buffer", Stx("QF" + std::string(26, '0') + "123*\n"), 0, "",
       [](IspInfo& r) { r.fuse_count = 123; }},
      {"no digits", Stx("QF*\n"), ERR_PARSE_FIRMWARE,
       "Fail to parser fuse count\n" + kLineHandlerFailed, nullptr},
      {"letter among the digits", Stx("QF81a2*\n"), ERR_PARSE_FIRMWARE,
       "The field value a is not digit\n" + kLineHandlerFailed, nullptr},
      {"sign", Stx("QF-1*\n"), ERR_PARSE_FIRMWARE,
       "The field value - is not digit\n" + kLineHandlerFailed, nullptr},
      {"no terminator", Stx("QF12\n34*\n"), ERR_PARSE_FIRMWARE,
       "This line doesn't contain field terminator\n" + kLineHandlerFailed, nullptr},
      {"30 digits", Stx("QF" + std::string(27, '0') + "123*\n"), ERR_PARSE_FIRMWARE,
       "String buffer is insufficient\nFail to convert to string\n" + kLineHandlerFailed,
       nullptr},
  });
}

TEST(FuseListField, WritesOneRowPerLineFromTheFirstAddress) {
  const std::string r0 = RowText(0), r1 = RowText(1);
  uint8_t b0[16], b1[16];
  RowBytes(r0, b0);
  RowBytes(r1, b1);
  auto rows = [&](std::vector<std::pair<int, const uint8_t*>> written) {
    return [written](IspInfo& r) {
      for (const auto& [row, bytes] : written) std::memcpy(Row(r, row), bytes, 16);
    };
  };
  RunFileCases({
      {"rows 0 and 1", Stx("L0\n" + r0 + "\n" + r1 + "\n*\n"), 0, "",
       rows({{0, b0}, {1, b1}})},
      {"address 128 starts at row 1", Stx("L128\n" + r0 + "\n*\n"), 0, "", rows({{1, b0}})},
      {"address 409344 starts at UFM row 0", Stx("L409344\n" + r0 + "\n*\n"), 0, "",
       rows({{ISP_CF_ROW_COUNT, b0}})},
      {"last row of the record", Stx("L491136\n" + r0 + "\n*\n"), 0, "",
       rows({{ISP_ROW_COUNT - 1, b0}})},
      {"blank and sign before the address", Stx("L +128\n" + r0 + "\n*\n"), 0, "",
       rows({{1, b0}})},
      {"CR LF line ends", Stx("L0\r\n" + r0 + "\r\n*\r\n"), 0, "", rows({{0, b0}})},
      {"address line with the terminator has no rows", Stx("L0*\n"), 0, "", nullptr},
      {"field open at the end of the file", Stx("L0\n" + r0), 0, "", rows({{0, b0}})},
      {"row line ending in the terminator is not stored",
       Stx("L0\n" + r0 + "\n" + r1.substr(0, 127) + "*\n"), 0, "", rows({{0, b0}})},
      {"31-character address line", Stx("L" + std::string(27, '0') + "128\n" + r0 + "\n*\n"), 0,
       "", rows({{1, b0}})},
      {"32-character address line", Stx("L" + std::string(28, '0') + "128\n" + r0 + "\n*\n"),
       ERR_PARSE_FIRMWARE, "The line size 32 is incorrect\nFail to parser\n", nullptr},
      {"unaligned address", Stx("L100\n" + r0 + "\n*\n"), ERR_PARSE_FIRMWARE,
       "The first fuse address 100 must flash page alignment\nFail to parser\n", nullptr},
      {"no address", Stx("Lx\n" + r0 + "\n*\n"), ERR_PARSE_FIRMWARE,
       "Fail to parser first fuse address\nFail to parser\n", nullptr},
      {"127-character row", Stx("L0\n" + r0 + "\n" + r1.substr(0, 127) + "\n*\n"),
       ERR_PARSE_FIRMWARE, "The L0 flash page size of line 2 is not 128\nFail to parser\n",
       rows({{0, b0}})},
      {"129-character row", Stx("L128\n" + r0 + "0\n*\n"), ERR_PARSE_FIRMWARE,
       "The L128 flash page size of line 1 is not 128\nFail to parser\n", nullptr},
      {"empty line", Stx("L0\n\n" + r0 + "\n*\n"), ERR_PARSE_FIRMWARE,
       "line size 0 is incorrect|Fail to check field terminator\nFail to parser\n", nullptr},
  });
}

TEST(FuseListField, BadCharacterLeavesTheBitsBeforeItWritten) {
  const std::string r0 = RowText(0);
  uint8_t b0[16];
  RowBytes(r0, b0);
  for (int position : {0, 5, 13, 127}) {
    SCOPED_TRACE(position);
    std::string bad = r0;
    bad[static_cast<size_t>(position)] = '2';
    RunFileCases({{"bad character", Stx("L0\n" + bad + "\n*\n"), ERR_PARSE_FIRMWARE,
                   "The value (0x32) of " + std::to_string(position) +
                       "th bit is invalid\nFail to parser row data\nFail to parser\n",
                   [&](IspInfo& r) {
                     for (int bit = 0; bit < position; ++bit) {
                       const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
                       uint8_t& byte = r.cf_rows[0][bit / 8];
                       byte = static_cast<uint8_t>((byte & ~mask) | (b0[bit / 8] & mask));
                     }
                   }}});
  }
}

TEST(UserCodeField, StoresHexadecimalBinaryAndAsciiValues) {
  const std::string bits = BitsLsbFirst(0x12345678, 32);
  RunFileCases({
      {"hexadecimal", Stx("UHABCD*\n"), 0, "", [](IspInfo& r) { r.usercode = 0xABCD; }},
      {"hexadecimal with 0x", Stx("UH0x1a*\n"), 0, "", [](IspInfo& r) { r.usercode = 0x1A; }},
      {"hexadecimal, blanks and minus sign", Stx("UH  -1*\n"), 0, "",
       [](IspInfo& r) { r.usercode = 0xFFFFFFFF; }},
      {"binary, first character in bit 0", Stx("U" + bits + "*\n"), 0, "",
       [](IspInfo& r) { r.usercode = 0x12345678; }},
      {"binary, fewer bits keep the others", Stx("U1111*\n"), 0, "",
       [](IspInfo& r) { r.usercode = 0xA5A5A5AF; }},
      {"ASCII, four characters", Stx("UAabcd*\n"), 0, "",
       [](IspInfo& r) { r.usercode = FourBytes("abcd"); }},
      {"ASCII, two characters bring the terminator and LF", Stx("UAab*\n"), 0, "",
       [](IspInfo& r) { r.usercode = FourBytes("ab*\n"); }},
      {"ASCII, two characters and CR LF", Stx("UAab*\r\n"), 0, "",
       [](IspInfo& r) { r.usercode = FourBytes("ab*\r"); }},
      {"ASCII at the end of the file: zero past the line",
       Stx("NOTE a long note line, longer than the next one*\nUA*"), 0, "",
       [](IspInfo& r) { r.usercode = FourBytes("*\0\0\0"); }},
      {"63-character field", Stx("UH" + std::string(60, '0') + "7*\n"), 0, "",
       [](IspInfo& r) { r.usercode = 7; }},
  });
}

TEST(UserCodeField, RejectsBadValues) {
  RunFileCases({
      {"ASCII, five characters", Stx("UAabcde*\n"), ERR_PARSE_FIRMWARE, kLineHandlerFailed,
       nullptr},
      {"binary, 33 bits store 32", Stx("U" + BitsLsbFirst(0x12345678, 32) + "1*\n"),
       ERR_PARSE_FIRMWARE,
       "The byte index 4 is over buffer size 4\nFail to parser USERCODE value\n" +
           kLineHandlerFailed,
       [](IspInfo& r) { r.usercode = 0x12345678; }},
      {"binary, bad character after a written bit", Stx("U0x1*\n"), ERR_PARSE_FIRMWARE,
       "The value (0x78) of 1th bit is invalid\nFail to parser USERCODE value\n" +
           kLineHandlerFailed,
       [](IspInfo& r) { r.usercode = 0xA5A5A5A4; }},
      {"hexadecimal without digits", Stx("UH*\n"), ERR_PARSE_FIRMWARE,
       "Fail to parser USERCODE value\n" + kLineHandlerFailed, nullptr},
      {"lower-case format", Stx("Uh1*\n"), ERR_PARSE_FIRMWARE,
       "Fail to get field value format type\n" + kLineHandlerFailed, nullptr},
      {"no format", Stx("U*\n"), ERR_PARSE_FIRMWARE,
       "Fail to get field value format type\n" + kLineHandlerFailed, nullptr},
      {"no terminator", Stx("UH12\n*\n"), ERR_PARSE_FIRMWARE,
       "This line doesn't contain field terminator\n" + kLineHandlerFailed, nullptr},
      {"64-character field", Stx("UH" + std::string(61, '0') + "7*\n"), ERR_PARSE_FIRMWARE,
       "String buffer is insufficient\nFail to convert to string\n" + kLineHandlerFailed,
       nullptr},
  });
}

TEST(FeatureRowField, StoresTheValueLineOnly) {
  const std::string first_line = "E" + std::string(64, '1');
  RunFileCases({
      {"binary, 64 bits then 16", Stx(first_line + "\n" + BitsLsbFirst(0x1234, 16) + "*\n"), 0,
       "", [](IspInfo& r) { r.feabits = 0x1234; }},
      {"binary, fewer bits keep the others", Stx("E1\n11*\n"), 0, "",
       [](IspInfo& r) { r.feabits = 0xA5A7; }},
      {"binary, only the terminator", Stx("E1\n*\n"), 0, "", nullptr},
      {"hexadecimal", Stx("EH\n1A2B*\n"), 0, "", [](IspInfo& r) { r.feabits = 0x1A2B; }},
      {"hexadecimal keeps the low 16 bits", Stx("EH\n12345*\n"), 0, "",
       [](IspInfo& r) { r.feabits = 0x2345; }},
      {"ASCII, two characters", Stx("EA\nab*\n"), 0, "",
       [](IspInfo& r) { r.feabits = TwoBytes("ab"); }},
      {"ASCII, one character brings the terminator", Stx("EA\na*\n"), 0, "",
       [](IspInfo& r) { r.feabits = TwoBytes("a*"); }},
      {"first line with the terminator", Stx("E0*\n"), 0, "", nullptr},
      {"field open at the end of the file", Stx("E1"), 0, "", nullptr},
  });
}

TEST(FeatureRowField, RejectsBadValues) {
  RunFileCases({
      {"binary, 17 bits store 16", Stx("E0\n" + BitsLsbFirst(0x1234, 16) + "1*\n"),
       ERR_PARSE_FIRMWARE,
       "The byte index 2 is over buffer size 2\nFail to parser FEABITS value\n" +
           kLineHandlerFailed,
       [](IspInfo& r) { r.feabits = 0x1234; }},
      {"ASCII, three characters", Stx("EA\nabc*\n"), ERR_PARSE_FIRMWARE, kLineHandlerFailed,
       nullptr},
      {"hexadecimal without digits", Stx("EH\n*\n"), ERR_PARSE_FIRMWARE,
       "Fail to parser FEABITS value\n" + kLineHandlerFailed, nullptr},
      {"no format character", Stx("E\n1*\n"), ERR_PARSE_FIRMWARE,
       "Fail to get field value format type\n" + kLineHandlerFailed, nullptr},
      {"lower-case format", Stx("Eh\n1*\n"), ERR_PARSE_FIRMWARE,
       "Fail to get field value format type\n" + kLineHandlerFailed, nullptr},
      {"value line without terminator", Stx("EH\n1A2B\n*\n"), ERR_PARSE_FIRMWARE,
       "This line doesn't contain field terminator\n" + kLineHandlerFailed, nullptr},
      {"empty value line", Stx("EH\n\n"), ERR_PARSE_FIRMWARE,
       "line size 0 is incorrect|Fail to check field terminator\n" + kLineHandlerFailed,
       nullptr},
      {"32-character value", Stx("EH\n" + std::string(31, '0') + "1*\n"), ERR_PARSE_FIRMWARE,
       "String buffer is insufficient\nFail to convert to string\n" + kLineHandlerFailed,
       nullptr},
  });
}

// Entries of the exported value-format table that a client changed to a type that is none of
// the formats: the handlers refuse the value.
TEST(ValueFormats, TypeChangedByAClientIsRefused) {
  const JEDECFieldValueFormatEntry saved = jedec_file_field_value_format_table[1];
  const int32_t none_of_the_formats = 7;  // stored as a C client would, without an enum value
  std::memcpy(&jedec_file_field_value_format_table[1].type, &none_of_the_formats, 4);
  RunFileCases({
      {"U", Stx("UH1*\n"), ERR_PARSE_FIRMWARE,
       "Unknow field value format type 7\n" + kLineHandlerFailed, nullptr},
      {"E", Stx("EH\n1*\n"), ERR_PARSE_FIRMWARE,
       "Unknown field value format type 7\n" + kLineHandlerFailed, nullptr},
  });
  jedec_file_field_value_format_table[1] = saved;
}

}  // namespace
