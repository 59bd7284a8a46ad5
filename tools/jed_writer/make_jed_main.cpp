// fusekit-make-jed: writes a sample JEDEC fuse file, its rows drawn from a seed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jed_writer.h"

namespace {

const char kUsage[] =
    "usage: fusekit-make-jed [options] OUTPUT\n"
    "Writes a JEDEC fuse file for the CPLD (OUTPUT '-' for standard output); its rows are\n"
    "pseudo-random bits drawn from the seed.\n"
    "  --seed N                     seed of the rows, FEABITS and USERCODE (default 1)\n"
    "  --feabits V                  FEABITS value, 16 bits (default: from the seed)\n"
    "  --usercode V                 USERCODE value, 32 bits (default: from the seed)\n"
    "  --usercode-format hex|binary|ascii   form of the U field (default hex)\n"
    "  --feature-row-format binary|hex      form of the E field (default binary)\n"
    "  --rows N                     list rows 0 to N-1 only (default all 3838)\n"
    "  --default-fuse-state 0|1     the F field (default 0)\n"
    "  --crlf                       CR LF line ends\n"
    "  --image PATH                 also write the image as raw bytes: rows 0 to 3837 (16 bytes\n"
    "                               each), then USERCODE least significant byte first\n"
    "Numbers may be decimal, 0x-prefixed hexadecimal or 0-prefixed octal.\n";

bool ParseNumber(const char* text, unsigned long long limit, unsigned long long* p_value) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || value > limit) return false;
  *p_value = value;
  return true;
}

// The rows the fuse file lists (unlisted rows as the image holds them, zero for a sample) and the
// USERCODE, in the layout the simulator's state file tool compares with.
bool WriteRawImage(const char* path, const IspInfo& image) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  const uint8_t usercode[4] = {static_cast<uint8_t>(image.usercode),
                               static_cast<uint8_t>(image.usercode >> 8),
                               static_cast<uint8_t>(image.usercode >> 16),
                               static_cast<uint8_t>(image.usercode >> 24)};
  bool ok = std::fwrite(image.cf_rows, sizeof(image.cf_rows), 1, file) == 1 &&
            std::fwrite(image.ufm_rows, sizeof(image.ufm_rows), 1, file) == 1 &&
            std::fwrite(usercode, sizeof(usercode), 1, file) == 1;
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "fusekit-make-jed: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long seed = 1;
  bool has_feabits = false, has_usercode = false;
  unsigned long long feabits = 0, usercode = 0, rows = ISP_ROW_COUNT, default_fuse_state = 0;
  jed_writer::Options options;
  const char* output = nullptr;
  const char* image_path = nullptr;

  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (argument == "--crlf") {
      options.crlf = true;
      continue;
    } else if (argument == "--image") {
      if (value == nullptr) return Fail("--image needs a PATH");
      image_path = value;
    } else if (argument == "--seed") {
      if (!ParseNumber(value, UINT32_MAX, &seed)) return Fail("bad --seed");
    } else if (argument == "--feabits") {
      if (!ParseNumber(value, UINT16_MAX, &feabits)) return Fail("bad --feabits");
      has_feabits = true;
    } else if (argument == "--usercode") {
      if (!ParseNumber(value, UINT32_MAX, &usercode)) return Fail("bad --usercode");
      has_usercode = true;
    } else if (argument == "--rows") {
      if (!ParseNumber(value, ISP_ROW_COUNT, &rows)) return Fail("bad --rows");
    } else if (argument == "--default-fuse-state") {
      if (!ParseNumber(value, 1, &default_fuse_state)) return Fail("bad --default-fuse-state");
    } else if (argument == "--usercode-format") {
      const std::string format = value != nullptr ? value : "";
      if (format == "hex") {
        options.usercode_format = jed_writer::UserCodeFormat::kHex;
      } else if (format == "binary") {
        options.usercode_format = jed_writer::UserCodeFormat::kBinary;
      } else if (format == "ascii") {
        options.usercode_format = jed_writer::UserCodeFormat::kAscii;
      } else {
        return Fail("bad --usercode-format");
      }
    } else if (argument == "--feature-row-format") {
      const std::string format = value != nullptr ? value : "";
      if (format == "binary") {
        options.feature_row_format = jed_writer::FeatureRowFormat::kBinary;
      } else if (format == "hex") {
        options.feature_row_format = jed_writer::FeatureRowFormat::kHex;
      } else {
        return Fail("bad --feature-row-format");
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      return Fail("unknown option " + argument);
    } else {
      if (output != nullptr) return Fail("more than one OUTPUT");
      output = argv[i];
      continue;
    }
    ++i;  // the option's value
  }
  if (output == nullptr) return Fail("no OUTPUT");

  static IspInfo image;
  jed_writer::FillSampleImage(static_cast<uint32_t>(seed), &image);
  if (has_feabits) image.feabits = static_cast<uint16_t>(feabits);
  if (has_usercode) image.usercode = static_cast<uint32_t>(usercode);
  image.default_fuse_state = static_cast<int32_t>(default_fuse_state);
  options.row_count = static_cast<uint32_t>(rows);

  std::string error;
  if (!jed_writer::WriteJedFile(output, image, options, &error)) {
    std::fprintf(stderr, "fusekit-make-jed: %s\n", error.c_str());
    return 1;
  }
  if (image_path != nullptr && !WriteRawImage(image_path, image)) {
    std::fprintf(stderr, "fusekit-make-jed: cannot write %s: %s\n", image_path,
                 std::strerror(errno));
    return 1;
  }
  return 0;
}
