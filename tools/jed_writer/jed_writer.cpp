#include "jed_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace jed_writer {
namespace {

constexpr uint32_t kRowBits = ISP_ROW_SIZE * 8;
constexpr uint32_t kFeatureRowBits = 64;
constexpr uint32_t kRowCount = ISP_ROW_COUNT;

uint64_t SplitMix64(uint64_t* p_state) {
  uint64_t z = (*p_state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

const uint8_t* RowOf(const IspInfo& image, uint32_t row) {
  return row < ISP_CF_ROW_COUNT ? image.cf_rows[row] : image.ufm_rows[row - ISP_CF_ROW_COUNT];
}

uint8_t ReverseBits(uint8_t byte) {
  uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (byte & (1u << bit)) reversed = static_cast<uint8_t>(reversed | (0x80u >> bit));
  }
  return reversed;
}

// Builds the text line by line with the chosen line end.
class Text {
 public:
  explicit Text(bool crlf) : line_end_(crlf ? "\r\n" : "\n") {}
  void Line(const std::string& line) {
    text_ += line;
    text_ += line_end_;
  }
  std::string& text() { return text_; }

 private:
  const char* line_end_;
  std::string text_;
};

std::string Format(const char* format, unsigned value) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), format, value);
  return buffer;
}

// Bits of `value`, least significant first.
std::string BitsLsbFirst(uint32_t value, int count) {
  std::string bits;
  for (int i = 0; i < count; ++i) bits += (value >> i) & 1u ? '1' : '0';
  return bits;
}

void WriteFuseList(const IspInfo& image, uint32_t first_row, uint32_t end_row, Text* p_text) {
  if (first_row >= end_row) return;
  p_text->Line(Format("L%06u", first_row * kRowBits));
  std::string line(kRowBits, '0');
  for (uint32_t row = first_row; row < end_row; ++row) {
    const uint8_t* p_row = RowOf(image, row);
    for (uint32_t j = 0; j < kRowBits; ++j) line[j] = (p_row[j / 8] >> (7 - j % 8)) & 1u ? '1' : '0';
    p_text->Line(line);
  }
  p_text->Line("*");
}

}  // namespace

void FillSampleImage(uint32_t seed, IspInfo* p_image) {
  uint64_t state = seed;
  for (int row = 0; row < ISP_ROW_COUNT; ++row) {
    uint8_t* p_row = row < ISP_CF_ROW_COUNT ? p_image->cf_rows[row]
                                            : p_image->ufm_rows[row - ISP_CF_ROW_COUNT];
    const uint64_t low = SplitMix64(&state);
    const uint64_t high = SplitMix64(&state);
    std::memcpy(p_row, &low, 8);
    std::memcpy(p_row + 8, &high, 8);
  }
  const uint64_t values = SplitMix64(&state);
  p_image->feabits = static_cast<uint16_t>(values);
  p_image->usercode = static_cast<uint32_t>(values >> 32);
  p_image->default_fuse_state = 0;
  p_image->fuse_count = ISP_ROW_COUNT * kRowBits;
}

uint16_t FuseChecksum(const IspInfo& image, uint32_t row_count) {
  const uint8_t default_byte = image.default_fuse_state ? 0xFF : 0x00;
  uint32_t sum = 0;
  for (uint32_t row = 0; row < ISP_ROW_COUNT; ++row) {
    const uint8_t* p_row = RowOf(image, row);
    for (int i = 0; i < ISP_ROW_SIZE; ++i) sum += ReverseBits(row < row_count ? p_row[i] : default_byte);
  }
  return static_cast<uint16_t>(sum);
}

bool IsAsciiWritable(uint32_t usercode) {
  uint8_t bytes[4];
  std::memcpy(bytes, &usercode, sizeof(bytes));
  for (uint8_t byte : bytes) {
    if (byte < 0x20 || byte > 0x7E || byte == '*') return false;
  }
  return true;
}

bool WriteJed(const IspInfo& image, const Options& options, std::string* p_text,
              std::string* p_error) {
  if (options.row_count > kRowCount) {
    *p_error = "row count over " + std::to_string(ISP_ROW_COUNT);
    return false;
  }
  if (options.usercode_format == UserCodeFormat::kAscii && !IsAsciiWritable(image.usercode)) {
    *p_error = "USERCODE " + Format("0x%08X", image.usercode) +
               " is not four printable characters other than '*'";
    return false;
  }

  Text text(options.crlf);
  text.text() += '\x02';
  text.Line("fusekit-make-jed fuse map*");
  text.Line("NOTE configuration flash " + std::to_string(ISP_CF_ROW_COUNT) + " rows, user flash " +
            std::to_string(ISP_UFM_ROW_COUNT) + " rows of " + std::to_string(kRowBits) + " fuses*");
  text.Line(Format("QF%u*", image.fuse_count));
  text.Line("G0*");
  text.Line(Format("F%u*", image.default_fuse_state ? 1u : 0u));
  text.Line("NOTE configuration flash*");
  const uint32_t cf_row_count = ISP_CF_ROW_COUNT;
  WriteFuseList(image, 0, options.row_count < cf_row_count ? options.row_count : cf_row_count, &text);
  if (options.row_count > ISP_CF_ROW_COUNT) {
    text.Line("NOTE user flash*");
    WriteFuseList(image, ISP_CF_ROW_COUNT, options.row_count, &text);
  }
  text.Line("NOTE feature row*");
  if (options.feature_row_format == FeatureRowFormat::kHex) {
    text.Line("EH");
    text.Line(Format("%04X*", image.feabits));
  } else {
    text.Line("E" + std::string(kFeatureRowBits, '0'));
    text.Line(BitsLsbFirst(image.feabits, 16) + "*");
  }
  switch (options.usercode_format) {
    case UserCodeFormat::kHex:
      text.Line(Format("UH%08X*", image.usercode));
      break;
    case UserCodeFormat::kBinary:
      text.Line("U" + BitsLsbFirst(image.usercode, 32) + "*");
      break;
    case UserCodeFormat::kAscii: {
      char characters[5] = {};
      std::memcpy(characters, &image.usercode, 4);
      text.Line(std::string("UA") + characters + "*");
      break;
    }
  }
  text.Line(Format("C%04X*", FuseChecksum(image, options.row_count)));
  text.text() += '\x03';

  uint32_t transmission_sum = 0;
  for (unsigned char byte : text.text()) transmission_sum += byte;
  text.Line(Format("%04X", transmission_sum & 0xFFFFu));
  *p_text = std::move(text.text());
  return true;
}

bool WriteJedFile(const std::string& path, const IspInfo& image, const Options& options,
                  std::string* p_error) {
  std::string text;
  if (!WriteJed(image, options, &text, p_error)) return false;
  FILE* file = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *p_error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = file == stdout ? std::fflush(file) == 0 : std::fclose(file) == 0;
  if (!written || !closed) {
    *p_error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace jed_writer
