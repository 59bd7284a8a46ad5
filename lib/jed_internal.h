// Internals of the fuse file reader, shared with its tests; not exported from the library.
#ifndef FUSEKIT_JED_INTERNAL_H
#define FUSEKIT_JED_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fusekit.h"

extern "C" {

// The open fuse file.
struct JedFile {
  FILE* fp;
  // Set when a line could not be read (read error, no memory) or is too long for `length`;
  // from then on no further line is read and the parse fails.
  bool read_failed;
};

// The current line. `buffer` holds the line exactly as read, line end included, followed by a
// NUL byte; `length` counts its characters without the line end.
struct JedLine {
  char* buffer;
  size_t capacity;
  int32_t length;
  // Bytes as read, line end included (the NUL after them not counted).
  size_t read_size;
};

// Called once per line of a field; `index` is 0 for the field's first line.
typedef int (*JEDECFileLineHandler)(uint32_t index, JedLine* p_line, IspInfo* p_isp_info);

// ---- Scanning ----------------------------------------------------------------------------------

// Reads the next line and trims its LF or CR LF. Returns 1 when a line was read, 0 when there is
// none (end of file, or a failure that sets `read_failed`).
int ReadNextLineAndTrim(JedFile* p_jed_file, JedLine* p_line);

// Sets `*p_has_terminator` to whether the line holds '*'. Returns -1 for a line without
// characters.
int CheckFieldTerminator(const JedLine* p_line, uint8_t* p_has_terminator);

// Runs `line_handler` over the field's lines, the current one first, up to and including the
// first line that holds '*'.
int ParseFieldLines(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info,
                    JEDECFileLineHandler line_handler);

// The number of characters before the first '*'; fails when the line holds none.
int GetFieldLength(const JedLine* p_line, uint32_t* p_field_length);

// Copies the characters before the first '*' into `p_string` with a terminating NUL.
int ConvertToString(const JedLine* p_line, char* p_string, uint32_t string_size);

// ---- Values ------------------------------------------------------------------------------------

// The value format that `character` announces, from jedec_file_field_value_format_table.
int GetFieldValueFormatType(char character, JEDECFieldValueFormat* p_format);

// Stores `bit_count` characters '0'/'1' as bits of `p_bytes`: character i goes to byte i / 8, bit
// 7 - i % 8 when `msb_first` is set, else bit i % 8. Other bits are left as they were.
int BitStringToBytes(const char* p_bits, uint32_t bit_count, uint8_t* p_bytes,
                     uint32_t byte_count, uint8_t msb_first);

// ---- Field handlers ----------------------------------------------------------------------------

int ParseNoteField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);
int ParseDefaultFuseStateField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);
int ParseFuseCountField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);
int ParseFuseListField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);
int ParseUserCodeField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);
int ParseFeatureRowField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);
int ParseStartOfTextField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);
int ParseEndOfTextField(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);

// ---- Line handlers -----------------------------------------------------------------------------

int NoteLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info);
int UnknownFieldLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info);
int DefaultFuseStateLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info);
int FuseCountLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info);
int UserCodeLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info);
int FeatureRowLineHandler(uint32_t index, JedLine* p_line, IspInfo* p_isp_info);

// The value format that the E field's first line announced, for its value line.
extern JEDECFieldValueFormat feature_row_value_format;

}

#endif
