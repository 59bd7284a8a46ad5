// Whether the simulated device holds nothing: both flash areas blank, no USERCODE, no DONE.
#ifndef FUSEKIT_TEST_BLANK_DEVICE_H
#define FUSEKIT_TEST_BLANK_DEVICE_H

#include <array>
#include <cstdint>

#include "sim_device.h"

inline bool Blank(const sim::Device& device) {
  for (int row = 0; row < sim::kRowCount; ++row) {
    for (uint8_t byte : device.row(row)) {
      if (byte != 0) return false;
    }
  }
  const sim::State& state = device.state();
  return state.usercode == std::array<uint8_t, 4>{} && !state.done_fuse;
}

#endif
