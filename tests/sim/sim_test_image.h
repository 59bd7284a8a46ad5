// A deterministic firmware image for the simulator tests.
#ifndef FUSEKIT_TESTS_SIM_TEST_IMAGE_H
#define FUSEKIT_TESTS_SIM_TEST_IMAGE_H

#include <cstring>
#include <memory>

#include "fusekit.h"

namespace sim_test {

// An image whose rows all differ from each other and from a blank row.
inline std::unique_ptr<IspInfo> MakeImage(uint32_t seed = 1) {
  auto image = std::make_unique<IspInfo>();
  std::memset(image.get(), 0, sizeof(IspInfo));
  uint32_t x = seed * 2654435761u + 12345u;
  for (int r = 0; r < ISP_ROW_COUNT; ++r) {
    uint8_t* row = r < ISP_CF_ROW_COUNT ? image->cf_rows[r] : image->ufm_rows[r - ISP_CF_ROW_COUNT];
    for (int i = 0; i < ISP_ROW_SIZE; ++i) {
      x = x * 1664525u + 1013904223u;
      row[i] = static_cast<uint8_t>(x >> 24);
    }
    row[0] = static_cast<uint8_t>(r);  // never blank: byte 1 or 0 always set below
    row[1] = static_cast<uint8_t>((r >> 8) | 0x80);
  }
  image->feabits = 0x0000;
  image->usercode = 0x12345678;
  return image;
}

}  // namespace sim_test

#endif
