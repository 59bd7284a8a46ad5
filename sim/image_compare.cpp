// Compares what the simulated device holds with a firmware image.
#include <cstring>

#include "fusekit.h"
#include "sim_device.h"

namespace sim {
namespace {

static_assert(ISP_ROW_SIZE == kRowSize && ISP_CF_ROW_COUNT == kCfRowCount &&
                  ISP_UFM_ROW_COUNT == kUfmRowCount,
              "the simulator's geometry is the image record's");

void CompareRows(const State& state, const uint8_t* cf_rows, const uint8_t* ufm_rows,
                 Comparison* result) {
  for (int r = 0; r < kCfRowCount; ++r) {
    if (std::memcmp(state.cf[r].data(), cf_rows + r * kRowSize, kRowSize) != 0) {
      if (result->first_cf_mismatch < 0) result->first_cf_mismatch = r;
      ++result->mismatched_rows;
    }
  }
  for (int r = 0; r < kUfmRowCount; ++r) {
    if (std::memcmp(state.ufm[r].data(), ufm_rows + r * kRowSize, kRowSize) != 0) {
      if (result->first_ufm_mismatch < 0) result->first_ufm_mismatch = r;
      ++result->mismatched_rows;
    }
  }
  result->done = state.done_fuse;
}

}  // namespace

Comparison Compare(const State& state, const IspInfo& image) {
  Comparison result;
  CompareRows(state, &image.cf_rows[0][0], &image.ufm_rows[0][0], &result);
  result.usercode_matches = true;
  for (int i = 0; i < 4; ++i) {
    if (state.usercode[i] != static_cast<uint8_t>(image.usercode >> (8 * i))) {
      result.usercode_matches = false;
    }
  }
  return result;
}

Comparison Compare(const State& state, const uint8_t* rows, const uint8_t* usercode) {
  Comparison result;
  CompareRows(state, rows, rows + kCfRowCount * kRowSize, &result);
  result.usercode_matches =
      usercode == nullptr || std::memcmp(state.usercode.data(), usercode, 4) == 0;
  return result;
}

uint32_t Crc32(const uint8_t* data, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace sim
