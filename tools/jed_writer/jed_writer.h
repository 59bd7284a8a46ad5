// Writes a well-formed JEDEC fuse file from an image record: start of text, notes, fuse count,
// default fuse state, the rows as L fields, the feature row, USERCODE, fuse checksum, end of text
// and transmission checksum. ParserJEDFile reads it back into the same record.
#ifndef FUSEKIT_JED_WRITER_H
#define FUSEKIT_JED_WRITER_H

#include <cstdint>
#include <string>

#include "fusekit.h"

namespace jed_writer {

enum class UserCodeFormat { kHex, kBinary, kAscii };
enum class FeatureRowFormat { kBinary, kHex };

struct Options {
  UserCodeFormat usercode_format = UserCodeFormat::kHex;
  // Binary: "E" and 64 bits on the first line, the 16 FEABITS bits and '*' on the second.
  // Hex: "EH" on the first line, four hex digits and '*' on the second.
  FeatureRowFormat feature_row_format = FeatureRowFormat::kBinary;
  bool crlf = false;
  // Rows 0 to row_count - 1 are listed; the fuse checksum takes the others at the default state.
  uint32_t row_count = ISP_ROW_COUNT;
};

// A pseudo-random image from `seed`: every row, FEABITS and USERCODE; default fuse state 0 and the
// fuse count of the whole record.
void FillSampleImage(uint32_t seed, IspInfo* p_image);

// The JEDEC fuse checksum: the 16-bit sum of the bytes formed from fuses 8w to 8w + 7, fuse 8w in
// the least significant bit, over every row of the record; rows from `row_count` on count at the
// image's default fuse state.
uint16_t FuseChecksum(const IspInfo& image, uint32_t row_count);

// Whether `usercode` can be written in the ASCII form: four printable characters, none of them '*'.
bool IsAsciiWritable(uint32_t usercode);

// The fuse file's text. Fails (false, *p_error set) for an ASCII USERCODE that cannot be written
// or a row count beyond the record.
bool WriteJed(const IspInfo& image, const Options& options, std::string* p_text,
              std::string* p_error);

// Writes the text to `path`. Fails on the reasons above and on I/O errors.
bool WriteJedFile(const std::string& path, const IspInfo& image, const Options& options,
                  std::string* p_error);

}  // namespace jed_writer

#endif
