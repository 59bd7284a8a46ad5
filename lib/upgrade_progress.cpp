// Progress file: a percentage from 0 to 100 in a small text file, rewritten after every step of
// a long operation so that other software on the board can show how far it has got.
#include <cctype>
#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "diagnostic.h"
#include "fusekit.h"
#include "upgrade_progress_internal.h"

// The percentage is computed in single precision, one rounding per operation; excess precision
// (x87) would change which step reaches which percentage.
static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must be evaluated in float");

namespace {

constexpr char kDiagnosticModule[] = "upgrade_progress";

constexpr size_t kPathCapacity = 64;
constexpr uint32_t kFullProgress = 100;
constexpr uint32_t kHighestStepProgress = 99;

// Process-wide state: the file, the steps that make 100 percent and the steps finished so far.
char progress_path[kPathCapacity];
uint32_t total_steps = 1;
uint32_t finished_steps = 0;

// Truncates toward zero into 32 bits. 2^32 and above, infinity included, saturate to the
// largest value; NaN (0 of 0 steps, after the count has wrapped) and negatives give 0.
uint32_t TruncateToUint32(float value) {
  if (!(value >= 0.0f)) return 0;
  if (value >= 4294967296.0f) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

// Reads one decimal integer the way "%d" does: white space skipped, an optional sign, then the
// digits up to the first other character; false when there are no digits. A number beyond the
// range of a 32-bit int saturates to INT32_MAX or INT32_MIN (out of range for a percentage
// either way), so that no text, however long, has an undefined result.
bool ParseDecimal(std::FILE* file, int32_t* p_value) {
  int c = std::fgetc(file);
  while (c != EOF && std::isspace(static_cast<unsigned char>(c))) c = std::fgetc(file);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = std::fgetc(file);
  }
  // Accumulate the magnitude, stopping the growth just past the largest magnitude that fits.
  constexpr int64_t kMagnitudeLimit = static_cast<int64_t>(INT32_MAX) + 1;
  int64_t magnitude = 0;
  bool any_digit = false;
  while (c != EOF && c >= '0' && c <= '9') {
    any_digit = true;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kMagnitudeLimit) magnitude = kMagnitudeLimit;
    c = std::fgetc(file);
  }
  if (!any_digit) return false;
  if (negative) {
    *p_value = static_cast<int32_t>(-magnitude);
  } else {
    *p_value = magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
  }
  return true;
}

}  // namespace

extern "C" {

uint32_t ProgressPercentage(uint32_t finished, uint32_t total) {
  const float quotient = static_cast<float>(finished) / static_cast<float>(total);
  const float product = quotient * 100.0f;
  const uint32_t low_byte = TruncateToUint32(product) & 0xFFu;
  return low_byte >= kHighestStepProgress ? kHighestStepProgress : low_byte;
}

FUSEKIT_API int InitUpdateProgress(const char* progress_file_path, uint32_t total) {
  total_steps = total;
  if (progress_file_path == nullptr) return 0;
  const size_t length = strnlen(progress_file_path, kPathCapacity);
  if (length >= kPathCapacity) return -1;
  std::memcpy(progress_path, progress_file_path, length + 1);
  return 0;
}

FUSEKIT_API int UpdateProgress(uint32_t progress) {
  std::FILE* file = std::fopen(progress_path, "w");
  if (file == nullptr) return -1;
  const uint32_t shown = progress > kFullProgress ? kFullProgress : progress;
  std::fprintf(file, "%d", static_cast<int>(shown));
  std::fclose(file);
  return 0;
}

FUSEKIT_API int FishOneStepAndUpdateProgress(void) {
  ++finished_steps;
  if (UpdateProgress(ProgressPercentage(finished_steps, total_steps)) < 0) {
    DIAGNOSTIC("Fail to upgrade progress");
    return -1;
  }
  return 0;
}

FUSEKIT_API int ResetProgress(void) {
  finished_steps = 0;
  return UpdateProgress(0);
}

FUSEKIT_API int ReadProgress(uint8_t* p_progress) {
  if (p_progress == nullptr) {
    DIAGNOSTIC("p_progress is NULL");
    return -1;
  }
  std::FILE* file = std::fopen(progress_path, "r");
  if (file == nullptr) {
    DIAGNOSTIC("Fail to open %s", progress_path);
    return -1;
  }
  int result = 0;
  int32_t value = 0;
  if (!ParseDecimal(file, &value)) {
    DIAGNOSTIC("Fail to read progress value");
    result = -1;
  } else if (static_cast<uint32_t>(value) <= kFullProgress) {
    *p_progress = static_cast<uint8_t>(value);
  } else {
    DIAGNOSTIC("The progress value 0x%x is invalid", static_cast<unsigned>(value));
    result = -1;
  }
  std::fclose(file);
  return result;
}

}  // extern "C"
