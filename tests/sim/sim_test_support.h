// A fixture for the simulator tests: attaches a device, binds the command layer to it and resets
// the virtual clock.
#ifndef FUSEKIT_TESTS_SIM_TEST_SUPPORT_H
#define FUSEKIT_TESTS_SIM_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include "fusekit.h"
#include "sim_device.h"
#include "sim_test_image.h"
#include "virtual_clock.h"

namespace sim_test {

// A device attached to the platform calls, the command layer bound to bus 5 / 0x40, and the
// virtual clock at 0. The transcript is on.
class SimFixture : public testing::Test {
 protected:
  void SetUp() override {
    virtual_clock::Reset();
    device_.config().record_transcript = true;
    sim::Attach(&device_);
    InitCPLDDevice(5, 0x40);
  }
  void TearDown() override { sim::Attach(nullptr); }

  // Enters transparent mode and erases, as an update does before programming.
  void EnableAndErase() {
    ASSERT_EQ(EnableConfigurationInterfaceTransparentMode(), 0);
    ASSERT_EQ(EraseCFAndUFM(), 0);
  }

  const sim::TranscriptEntry& LastTransfer() const { return device_.transcript().back(); }

  sim::Device device_;
};

}  // namespace sim_test

#endif
