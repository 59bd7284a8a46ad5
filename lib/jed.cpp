// Fuse file reader: reads a JEDEC fuse file into an IspInfo record. Finds the start of text, reads
// line by line, recognises each field by the keyword at the start of its first line and lets the
// field's handler convert it into the record.
#include <sys/types.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostic.h"
#include "fusekit.h"
#include "jed_internal.h"

namespace {

constexpr char kDiagnosticModule[] = "jed";

constexpr char kStartOfText = 0x02;
constexpr char kFieldTerminator = '*';
constexpr uint32_t kRowBits = ISP_ROW_SIZE * 8;

// Sizes of the scratch strings the handlers convert their values from.
constexpr uint32_t kAddressTextSize = 32;
constexpr uint32_t kFuseCountTextSize = 32;
constexpr uint32_t kUserCodeTextSize = 64;
constexpr uint32_t kFeatureRowTextSize = 32;

// Longest value of the ASCII forms, format prefix included: "UA" and four characters for the U
// field, two characters for the E field's value line.
constexpr size_t kUserCodeAsciiMaxLength = 6;
constexpr size_t kFeatureRowAsciiMaxLength = 2;

// The line's character at `position`, or NUL past its end.
char CharAt(const JedLine* p_line, int32_t position) {
  return position < p_line->length ? p_line->buffer[position] : '\0';
}

// The byte at `position` of the line as read, line end included, or zero past its end.
uint8_t ByteAsRead(const JedLine* p_line, size_t position) {
  return position < p_line->read_size ? static_cast<uint8_t>(p_line->buffer[position]) : 0;
}

bool HasFieldTerminator(const JedLine* p_line) {
  return p_line->length > 0 &&
         std::memchr(p_line->buffer, kFieldTerminator, static_cast<size_t>(p_line->length)) !=
             nullptr;
}

// The value of a hexadecimal digit; any other character gets a value above every base.
int DigitValue(char character) {
  if (character >= '0' && character <= '9') return character - '0';
  if (character >= 'a' && character <= 'f') return character - 'a' + 10;
  if (character >= 'A' && character <= 'F') return character - 'A' + 10;
  return 99;
}

// Reads `prefix` literally and then an unsigned number as scanf's %u (base 10) or %X (base 16)
// does: leading white space, an optional sign, for base 16 an optional 0x or 0X, then digits up
// to the first other character. Unlike scanf it is defined for any number of digits: a magnitude
// beyond 32 bits yields 0xFFFFFFFF, and a minus sign negates modulo 2^32 (what strtoul gives on a
// 32-bit target). Returns whether a value was converted.
bool ScanUnsigned(const char* p_text, const char* prefix, int base, uint32_t* p_value) {
  for (; *prefix != '\0'; ++prefix, ++p_text) {
    if (*p_text != *prefix) return false;
  }
  while (std::isspace(static_cast<unsigned char>(*p_text))) ++p_text;
  bool negative = false;
  if (*p_text == '+' || *p_text == '-') {
    negative = *p_text == '-';
    ++p_text;
  }
  if (base == 16 && p_text[0] == '0' && (p_text[1] == 'x' || p_text[1] == 'X') &&
      DigitValue(p_text[2]) < 16) {
    p_text += 2;
  }
  if (DigitValue(*p_text) >= base) return false;
  uint64_t magnitude = 0;
  for (; DigitValue(*p_text) < base; ++p_text) {
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitValue(*p_text));
    if (magnitude > UINT32_MAX) magnitude = uint64_t{UINT32_MAX} + 1;  // stays above, no wrap
  }
  if (magnitude > UINT32_MAX) {
    *p_value = UINT32_MAX;
  } else {
    const uint32_t value = static_cast<uint32_t>(magnitude);
    *p_value = negative ? 0u - value : value;
  }
  return true;
}

// Value formats pass as their 32-bit numbers: a client may have put a number that is none of the
// formats into the exported table, and C++ leaves reading such a number as the enum undefined.
static_assert(sizeof(JEDECFieldValueFormat) == sizeof(int32_t), "a format is a 32-bit int");

int32_t FormatNumber(const JEDECFieldValueFormat* p_format) {
  int32_t number;
  std::memcpy(&number, p_format, sizeof(number));
  return number;
}

void StoreFormatNumber(int32_t number, JEDECFieldValueFormat* p_format) {
  std::memcpy(p_format, &number, sizeof(number));
}

// Row `row` (0 to ISP_ROW_COUNT - 1) of the record's one numbering of CF and UFM rows.
uint8_t* RowOf(IspInfo* p_isp_info, uint32_t row) {
  if (row < ISP_CF_ROW_COUNT) return p_isp_info->cf_rows[row];
  return p_isp_info->ufm_rows[row - ISP_CF_ROW_COUNT];
}

// Eight characters '0'/'1' as one byte, or -1 when any of them is another character. The
// characters are loaded as one little-endian word, each in the low bit of its byte, and a
// multiplication gathers those bits into the top byte, in either order.
int EightBitsToByte(const char* p_bits, bool msb_first) {
  uint64_t word;
  std::memcpy(&word, p_bits, sizeof(word));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  constexpr uint64_t kLowBits = 0x0101010101010101;
  constexpr uint64_t kAllZeroCharacters = 0x3030303030303030;
  if ((word & ~kLowBits) != kAllZeroCharacters) return -1;
  const uint64_t bits = word & kLowBits;
  // Character j sits at bit 8j; these factors move it to bit 63 - j or bit 56 + j, with no two
  // partial products on the same bit.
  constexpr uint64_t kFirstToHighest = 0x8040201008040201;
  constexpr uint64_t kFirstToLowest = 0x0102040810204080;
  return static_cast<int>((bits * (msb_first ? kFirstToHighest : kFirstToLowest)) >> 56);
}

bool ReadStartOfText(FILE* fp) {
  int byte;
  while ((byte = std::getc(fp)) != EOF) {
    if (byte == kStartOfText) return true;
  }
  return false;
}

void SetSyntaxLengths() {
  for (JEDECFileFieldEntry& entry : jedec_file_format_table) {
    entry.syntax_length = entry.syntax != nullptr ? std::strlen(entry.syntax) : 0;
  }
}

const JEDECFileFieldEntry* MatchField(const JedLine* p_line) {
  for (const JEDECFileFieldEntry& entry : jedec_file_format_table) {
    if (entry.syntax == nullptr || p_line->length < 0 ||
        static_cast<size_t>(p_line->length) < entry.syntax_length) {
      continue;
    }
    if (std::memcmp(p_line->buffer, entry.syntax, entry.syntax_length) == 0) return &entry;
  }
  return nullptr;
}

// Hands the current line's field to its handler; a line that starts no known field is skipped
// through the first line that holds '*'.
int DispatchField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info) {
  const JEDECFileFieldEntry* p_entry = MatchField(p_line);
  if (p_entry == nullptr) {
    return ParseFieldLines(p_jed_file, p_line, p_isp_info, UnknownFieldLineHandler);
  }
  if (p_entry->handler == nullptr) return 0;
  return p_entry->handler(p_jed_file, p_line, p_isp_info);
}

int ParseText(FILE* fp, IspInfo* p_isp_info) {
  if (!ReadStartOfText(fp)) {
    DIAGNOSTIC("Fail to seek to start of text");
    return ERR_PARSE_FIRMWARE;
  }
  JedFile jed_file = {fp, false};
  JedLine line = {nullptr, 0, 0, 0};
  int result = 0;
  int has_line = ReadNextLineAndTrim(&jed_file, &line);
  SetSyntaxLengths();
  while (has_line) {
    result = DispatchField(&jed_file, &line, p_isp_info);
    if (result < 0) {
      DIAGNOSTIC("Fail to parser");
      result = ERR_PARSE_FIRMWARE;
      break;
    }
    has_line = ReadNextLineAndTrim(&jed_file, &line);
  }
  if (result >= 0 && jed_file.read_failed) {
    DIAGNOSTIC("Fail to parser");
    result = ERR_PARSE_FIRMWARE;
  }
  std::free(line.buffer);
  return result;
}

}  // namespace

extern "C" {

// Exported through their declarations in fusekit.h.
const char JEDECFileFieldTypeStartOfTextFieldSyntax[2] = {0x02, 0x00};
const char JEDECFileFieldTypeEndOfTextFieldSyntax[2] = {0x03, 0x00};

FUSEKIT_API JEDECFileFieldEntry jedec_file_format_table[JEDEC_FILE_FIELD_TYPE_COUNT] = {
    {JEDECFileFieldTypeNote, "NOTE", ParseNoteField, 0},
    {JEDECFileFieldTypeDefaultFuseState, "F", ParseDefaultFuseStateField, 0},
    {JEDECFileFieldTypeFuseCount, "QF", ParseFuseCountField, 0},
    {JEDECFileFieldTypeFuseList, "L", ParseFuseListField, 0},
    {JEDECFileFieldTypeUserCode, "U", ParseUserCodeField, 0},
    {JEDECFileFieldTypeFeatureRow, "E", ParseFeatureRowField, 0},
    {JEDECFileFieldTypeStartOfText, JEDECFileFieldTypeStartOfTextFieldSyntax,
     ParseStartOfTextField, 0},
    {JEDECFileFieldTypeEndOfText, JEDECFileFieldTypeEndOfTextFieldSyntax, ParseEndOfTextField,
     0},
};

FUSEKIT_API JEDECFieldValueFormatEntry
    jedec_file_field_value_format_table[JEDEC_FIELD_VALUE_FORMAT_COUNT] = {
        {JEDECFieldValueFormatAscii, "A"},
        {JEDECFieldValueFormatHex, "H"},
        {JEDECFieldValueFormatBinary, "01"},
};

JEDECFieldValueFormat feature_row_value_format = JEDECFieldValueFormatNone;

FUSEKIT_API int ParserJEDFile(const char* jed_file_path, IspInfo* p_isp_info) {
  if (jed_file_path == nullptr) {
    DIAGNOSTIC("jed_file_path is NULL");
    return -1;
  }
  if (p_isp_info == nullptr) {
    DIAGNOSTIC("p_isp_info is NULL");
    return -1;
  }
  FILE* fp = std::fopen(jed_file_path, "r");
  if (fp == nullptr) {
    DIAGNOSTIC("Fail to open file:%s", jed_file_path);
    return ERR_OPEN_FIRMWARE;
  }
  int result = ParseText(fp, p_isp_info);
  if (std::fclose(fp) != 0) {
    DIAGNOSTIC("Fail to close jedec file");
    DIAGNOSTIC("Fail to close JED file");
    result = ERR_CLOSE_FIRMWARE;
  }
  return result;
}

// ---- Scanning ----------------------------------------------------------------------------------

int ReadNextLineAndTrim(JedFile* p_jed_file, JedLine* p_line) {
  if (p_jed_file->read_failed) return 0;
  const ssize_t read_size = getline(&p_line->buffer, &p_line->capacity, p_jed_file->fp);
  if (read_size < 0) {
    if (!std::feof(p_jed_file->fp)) {
      DIAGNOSTIC("Fail to read line: %s", std::strerror(errno));
      p_jed_file->read_failed = true;
    }
    return 0;
  }
  size_t length = static_cast<size_t>(read_size);
  if (length > 0 && p_line->buffer[length - 1] == '\n') {
    --length;
    if (length > 0 && p_line->buffer[length - 1] == '\r') --length;
  }
  // `length` is a signed 32-bit count: a longer line cannot be represented, so it fails the parse.
  if (length > static_cast<size_t>(INT32_MAX)) {
    DIAGNOSTIC("The line size %zu is over %d", length, INT32_MAX);
    p_jed_file->read_failed = true;
    return 0;
  }
  p_line->length = static_cast<int32_t>(length);
  p_line->read_size = static_cast<size_t>(read_size);
  return 1;
}

int CheckFieldTerminator(const JedLine* p_line, uint8_t* p_has_terminator) {
  if (p_line->length <= 0) {
    DIAGNOSTIC_NO_LINE_END("line size %d is incorrect", p_line->length);
    return -1;
  }
  *p_has_terminator = HasFieldTerminator(p_line) ? 1 : 0;
  return 0;
}

int ParseFieldLines(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info,
                    JEDECFileLineHandler line_handler) {
  if (p_line->length <= 0) {
    DIAGNOSTIC_NO_LINE_END("line size %d is incorrect", p_line->length);
    return -1;
  }
  for (uint32_t index = 0;; ++index) {
    if (line_handler(index, p_line, p_isp_info) < 0) {
      DIAGNOSTIC("Fail to execute line handler");
      return -1;
    }
    uint8_t has_terminator = 0;
    if (CheckFieldTerminator(p_line, &has_terminator) < 0) {
      DIAGNOSTIC("Fail to check field terminator");
      return -1;
    }
    if (has_terminator) return 0;
    // A field still open at the end of the file is accepted.
    if (!ReadNextLineAndTrim(p_jed_file, p_line)) return 0;
  }
}

int GetFieldLength(const JedLine* p_line, uint32_t* p_field_length) {
  uint8_t has_terminator = 0;
  if (CheckFieldTerminator(p_line, &has_terminator) < 0) {
    DIAGNOSTIC("Fail to check field terminator");
    return -1;
  }
  if (!has_terminator) {
    DIAGNOSTIC("This line doesn't contain field terminator");
    return -1;
  }
  const void* p_terminator =
      std::memchr(p_line->buffer, kFieldTerminator, static_cast<size_t>(p_line->length));
  *p_field_length = static_cast<uint32_t>(static_cast<const char*>(p_terminator) - p_line->buffer);
  return 0;
}

int ConvertToString(const JedLine* p_line, char* p_string, uint32_t string_size) {
  uint32_t field_length = 0;
  if (GetFieldLength(p_line, &field_length) < 0) {
    DIAGNOSTIC("Fail to get field lenght");
    return -1;
  }
  if (field_length >= string_size) {
    DIAGNOSTIC("String buffer is insufficient");
    return -1;
  }
  std::memcpy(p_string, p_line->buffer, field_length);
  p_string[field_length] = '\0';
  return 0;
}

// ---- Values ------------------------------------------------------------------------------------

int GetFieldValueFormatType(char character, JEDECFieldValueFormat* p_format) {
  if (character == '\0') return -1;
  for (const JEDECFieldValueFormatEntry& entry : jedec_file_field_value_format_table) {
    if (entry.characters != nullptr && std::strchr(entry.characters, character) != nullptr) {
      StoreFormatNumber(FormatNumber(&entry.type), p_format);
      return 0;
    }
  }
  return -1;
}

int BitStringToBytes(const char* p_bits, uint32_t bit_count, uint8_t* p_bytes,
                     uint32_t byte_count, uint8_t msb_first) {
  uint32_t i = 0;
  while (i < bit_count) {
    // Whole bytes of valid characters at once; anything else bit by bit, which reports it.
    if (i % 8 == 0 && bit_count - i >= 8 && i / 8 < byte_count) {
      const int byte = EightBitsToByte(p_bits + i, msb_first != 0);
      if (byte >= 0) {
        p_bytes[i / 8] = static_cast<uint8_t>(byte);
        i += 8;
        continue;
      }
    }
    const char character = p_bits[i];
    if (character != '0' && character != '1') {
      DIAGNOSTIC("The value (0x%x) of %uth bit is invalid",
                 static_cast<unsigned>(static_cast<unsigned char>(character)), i);
      return -1;
    }
    const uint32_t byte_index = i / 8;
    if (byte_index >= byte_count) {
      DIAGNOSTIC("The byte index %u is over buffer size %u", byte_index, byte_count);
      return -1;
    }
    const uint8_t mask = static_cast<uint8_t>(1u << (msb_first ? 7 - i % 8 : i % 8));
    if (character == '1') {
      p_bytes[byte_index] |= mask;
    } else {
      p_bytes[byte_index] &= static_cast<uint8_t>(~mask);
    }
    ++i;
  }
  return 0;
}

// ---- Field handlers ----------------------------------------------------------------------------

int ParseNoteField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info) {
  return ParseFieldLines(p_jed_file, p_line, p_isp_info, NoteLineHandler);
}

int ParseDefaultFuseStateField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info) {
  return ParseFieldLines(p_jed_file, p_line, p_isp_info, DefaultFuseStateLineHandler);
}

int ParseFuseCountField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info) {
  return ParseFieldLines(p_jed_file, p_line, p_isp_info, FuseCountLineHandler);
}

int ParseUserCodeField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info) {
  return ParseFieldLines(p_jed_file, p_line, p_isp_info, UserCodeLineHandler);
}

int ParseFeatureRowField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info) {
  return ParseFieldLines(p_jed_file, p_line, p_isp_info, FeatureRowLineHandler);
}

int ParseStartOfTextField(JedFile*, JedLine*, IspInfo*) { return 0; }

int ParseEndOfTextField(JedFile*, JedLine*, IspInfo*) { return 0; }

// L: the first fuse address, then one row of 128 fuses per line, then a line holding '*'.
int ParseFuseListField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info) {
  if (p_line->length <= 0) {
    DIAGNOSTIC_NO_LINE_END("line size %d is incorrect", p_line->length);
    return -1;
  }
  if (p_line->buffer[0] != 'L') {
    DIAGNOSTIC("The first character of field syntax %c is not 'L'", p_line->buffer[0]);
    return -1;
  }
  if (p_line->length >= static_cast<int32_t>(kAddressTextSize)) {
    DIAGNOSTIC("The line size %d is incorrect", p_line->length);
    return -1;
  }
  char address_text[kAddressTextSize] = {};
  std::memcpy(address_text, p_line->buffer, static_cast<size_t>(p_line->length));
  uint32_t first_address = 0;
  if (!ScanUnsigned(address_text, "L", 10, &first_address)) {
    DIAGNOSTIC("Fail to parser first fuse address");
    return -1;
  }
  if (first_address % kRowBits != 0) {
    DIAGNOSTIC("The first fuse address %u must flash page alignment", first_address);
    return -1;
  }
  const uint32_t first_row = first_address / kRowBits;
  if (HasFieldTerminator(p_line)) return 0;

  for (uint32_t index = 1;; ++index) {
    if (!ReadNextLineAndTrim(p_jed_file, p_line)) return 0;
    uint8_t has_terminator = 0;
    if (CheckFieldTerminator(p_line, &has_terminator) < 0) {
      DIAGNOSTIC("Fail to check field terminator");
      return -1;
    }
    // The '*' stands on a line of its own after the last row; nothing on it is stored.
    if (has_terminator) return 0;
    if (p_line->length != static_cast<int32_t>(kRowBits)) {
      DIAGNOSTIC("The L%u flash page size of line %u is not %u", first_address, index, kRowBits);
      return -1;
    }
    // Rows only grow within a field, so the first row past the record ends it before `index`
    // can grow large.
    const uint64_t row = uint64_t{first_row} + index - 1;
    if (row >= ISP_ROW_COUNT) {
      DIAGNOSTIC("The row %llu of line %u is outside rows 0 to %d",
                 static_cast<unsigned long long>(row), index, ISP_ROW_COUNT - 1);
      return -1;
    }
    if (BitStringToBytes(p_line->buffer, kRowBits, RowOf(p_isp_info, static_cast<uint32_t>(row)),
                         ISP_ROW_SIZE, 1) < 0) {
      DIAGNOSTIC("Fail to parser row data");
      return -1;
    }
  }
}

// ---- Line handlers -----------------------------------------------------------------------------

int NoteLineHandler(uint32_t, JedLine*, IspInfo*) { return 0; }

int UnknownFieldLineHandler(uint32_t, JedLine*, IspInfo*) { return 0; }

// F: "F0*" or "F1*".
int DefaultFuseStateLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info) {
  if (index != 0) {
    DIAGNOSTIC("The field \"Default Fuse State\" is one-line field");
    return -1;
  }
  uint32_t field_length = 0;
  if (GetFieldLength(p_line, &field_length) < 0) {
    DIAGNOSTIC("Fail to get field lenght");
    return -1;
  }
  if (field_length != 2) {
    DIAGNOSTIC("The field lenght %d is incorrect", static_cast<int>(field_length));
    return -1;
  }
  if (p_line->buffer[0] != 'F') {
    DIAGNOSTIC("The field syntax %c is not 'F'", p_line->buffer[0]);
    return -1;
  }
  switch (p_line->buffer[1]) {
    case '0':
      p_isp_info->default_fuse_state = 0;
      return 0;
    case '1':
      p_isp_info->default_fuse_state = 1;
      return 0;
    default:
      DIAGNOSTIC("The field value 0x%x is not 'F'",
                 static_cast<unsigned>(static_cast<unsigned char>(p_line->buffer[1])));
      return -1;
  }
}

// QF: "QF" and decimal digits, then '*'.
int FuseCountLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info) {
  if (index != 0) {
    DIAGNOSTIC("The field \"Fuse Count\" is one-line field");
    return -1;
  }
  if (!HasFieldTerminator(p_line)) {
    DIAGNOSTIC("This line doesn't contain field terminator");
    return -1;
  }
  if (CharAt(p_line, 0) != 'Q') {
    DIAGNOSTIC("The first character of field syntax %c is not 'Q'", CharAt(p_line, 0));
    return -1;
  }
  if (CharAt(p_line, 1) != 'F') {
    DIAGNOSTIC("The second character of field syntax %c is not 'F'", CharAt(p_line, 1));
    return -1;
  }
  uint32_t field_length = 0;
  if (GetFieldLength(p_line, &field_length) < 0) return -1;
  for (uint32_t position = 2; position < field_length; ++position) {
    const char character = p_line->buffer[position];
    if (!std::isdigit(static_cast<unsigned char>(character))) {
      DIAGNOSTIC("The field value %c is not digit", character);
      return -1;
    }
  }
  char text[kFuseCountTextSize] = {};
  if (ConvertToString(p_line, text, sizeof(text)) < 0) {
    DIAGNOSTIC("Fail to convert to string");
    return -1;
  }
  uint32_t fuse_count = 0;
  if (!ScanUnsigned(text, "QF", 10, &fuse_count)) {
    DIAGNOSTIC("Fail to parser fuse count");
    return -1;
  }
  p_isp_info->fuse_count = fuse_count;
  return 0;
}

// U: "U", a format character, the value, then '*'.
int UserCodeLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info) {
  if (index != 0) {
    DIAGNOSTIC("The field \"U Field\" is one-line field");
    return -1;
  }
  if (!HasFieldTerminator(p_line)) {
    DIAGNOSTIC("This line doesn't contain field terminator");
    return -1;
  }
  if (CharAt(p_line, 0) != 'U') {
    DIAGNOSTIC("The first character of field syntax %c is not 'U'", CharAt(p_line, 0));
    return -1;
  }
  JEDECFieldValueFormat format = JEDECFieldValueFormatNone;
  if (GetFieldValueFormatType(CharAt(p_line, 1), &format) < 0) {
    DIAGNOSTIC("Fail to get field value format type");
    return -1;
  }
  char text[kUserCodeTextSize] = {};
  if (ConvertToString(p_line, text, sizeof(text)) < 0) {
    DIAGNOSTIC("Fail to convert to string");
    return -1;
  }
  const size_t text_length = std::strlen(text);
  const int32_t format_number = FormatNumber(&format);
  switch (format_number) {
    case JEDECFieldValueFormatHex: {
      uint32_t usercode = 0;
      if (!ScanUnsigned(text, "UH", 16, &usercode)) {
        DIAGNOSTIC("Fail to parser USERCODE value");
        return -1;
      }
      p_isp_info->usercode = usercode;
      return 0;
    }
    case JEDECFieldValueFormatAscii: {
      if (text_length > kUserCodeAsciiMaxLength) return -1;
      // The four bytes after "UA" as read, whatever they are, in memory order.
      uint8_t bytes[sizeof(p_isp_info->usercode)];
      for (size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = ByteAsRead(p_line, 2 + i);
      std::memcpy(&p_isp_info->usercode, bytes, sizeof(bytes));
      return 0;
    }
    case JEDECFieldValueFormatBinary:
      // The format character is the first bit; bit i of the value is character 1 + i.
      if (BitStringToBytes(text + 1, static_cast<uint32_t>(text_length - 1),
                           reinterpret_cast<uint8_t*>(&p_isp_info->usercode),
                           sizeof(p_isp_info->usercode), 0) < 0) {
        DIAGNOSTIC("Fail to parser USERCODE value");
        return -1;
      }
      return 0;
    default:
      DIAGNOSTIC("Unknow field value format type %d", static_cast<int>(format_number));
      return -1;
  }
}

// E: "E" and a format character on the first line (the rest of it is not stored), the FEABITS
// value and '*' on the second.
int FeatureRowLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info) {
  if (index == 0) {
    if (CharAt(p_line, 0) != 'E') {
      DIAGNOSTIC("The first character of field syntax %c is not 'E'", CharAt(p_line, 0));
      return -1;
    }
    if (GetFieldValueFormatType(CharAt(p_line, 1), &feature_row_value_format) < 0) {
      DIAGNOSTIC("Fail to get field value format type");
      return -1;
    }
    return 0;
  }
  if (index != 1) {
    DIAGNOSTIC("The field \"E Field\" only has two lines");
    return -1;
  }
  uint8_t has_terminator = 0;
  if (CheckFieldTerminator(p_line, &has_terminator) < 0) {
    DIAGNOSTIC("Fail to check field terminator");
    return -1;
  }
  if (!has_terminator) {
    DIAGNOSTIC("This line doesn't contain field terminator");
    return -1;
  }
  char text[kFeatureRowTextSize] = {};
  if (ConvertToString(p_line, text, sizeof(text)) < 0) {
    DIAGNOSTIC("Fail to convert to string");
    return -1;
  }
  const size_t text_length = std::strlen(text);
  const int32_t format_number = FormatNumber(&feature_row_value_format);
  switch (format_number) {
    case JEDECFieldValueFormatHex: {
      uint32_t value = 0;
      if (!ScanUnsigned(text, "", 16, &value)) {
        DIAGNOSTIC("Fail to parser FEABITS value");
        return -1;
      }
      p_isp_info->feabits = static_cast<uint16_t>(value);
      return 0;
    }
    case JEDECFieldValueFormatAscii: {
      if (text_length > kFeatureRowAsciiMaxLength) return -1;
      uint8_t bytes[sizeof(p_isp_info->feabits)];
      for (size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = ByteAsRead(p_line, i);
      std::memcpy(&p_isp_info->feabits, bytes, sizeof(bytes));
      return 0;
    }
    case JEDECFieldValueFormatBinary:
      if (BitStringToBytes(text, static_cast<uint32_t>(text_length),
                           reinterpret_cast<uint8_t*>(&p_isp_info->feabits),
                           sizeof(p_isp_info->feabits), 0) < 0) {
        DIAGNOSTIC("Fail to parser FEABITS value");
        return -1;
      }
      return 0;
    default:
      DIAGNOSTIC("Unknown field value format type %d", static_cast<int>(format_number));
      return -1;
  }
}

}  // extern "C"
