// Busy periods counted in polls and in microseconds of the virtual clock, and the bus timing model.
#include <unistd.h>

#include "scripted_update.h"
#include "sim_test_support.h"

namespace {

using sim_test::SimFixture;

class SimBusyTest : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    EnableAndErase();
    ASSERT_EQ(ResetConfigurationFlashAddress(), 0);
  }

  int Poll() {
    uint8_t busy = 9;
    EXPECT_EQ(IsBusy(&busy), 0);
    return busy;
  }

  const uint8_t row_[16] = {0x42};
};

TEST_F(SimBusyTest, BusyForAGivenNumberOfPolls) {
  device_.config().row_busy.polls = 3;
  ASSERT_EQ(ProgramPage(row_), 0);
  uint32_t status = 0;
  ASSERT_EQ(ReadStatusRegister(&status), 0);
  EXPECT_EQ(status & sim::status::kBusy, sim::status::kBusy);
  EXPECT_EQ(Poll(), 1);
  EXPECT_EQ(LastTransfer().In(), std::vector<uint8_t>{0x80});
  EXPECT_EQ(Poll(), 1);
  ASSERT_EQ(ReadStatusRegister(&status), 0);  // status reads do not use up polls
  EXPECT_EQ(Poll(), 1);
  EXPECT_EQ(Poll(), 0);
  EXPECT_EQ(LastTransfer().In(), std::vector<uint8_t>{0x00});
  ASSERT_EQ(ReadStatusRegister(&status), 0);
  EXPECT_EQ(status & sim::status::kBusy, 0u);
  EXPECT_EQ(device_.counters().busy_answers, 3u);
}

TEST_F(SimBusyTest, BusyForAGivenTimeOnTheVirtualClock) {
  device_.config().row_busy.microseconds = 1500;
  ASSERT_EQ(ProgramPage(row_), 0);
  EXPECT_EQ(Poll(), 1);
  usleep(200);
  EXPECT_EQ(Poll(), 1);
  usleep(1299);
  EXPECT_EQ(Poll(), 1);
  usleep(1);
  EXPECT_EQ(Poll(), 0);
  EXPECT_EQ(virtual_clock_now_us(), 1500u);
}

TEST_F(SimBusyTest, ClockCanBeSupplied) {
  static uint64_t now = 0;
  device_.config().clock = [] { return now; };
  device_.config().erase_busy.microseconds = 10;
  EnableAndErase();
  EXPECT_EQ(Poll(), 1);
  now = 10;
  EXPECT_EQ(Poll(), 0);
}

TEST_F(SimBusyTest, BusTimingModelAdvancesTheSimulatorClock) {
  device_.config().bus_hz = 100000;
  device_.ClearTranscript();
  uint32_t id = 0;
  ASSERT_EQ(GetDeviceID(&id), 0);  // start, 5 bytes out, restart, 5 bytes in, stop: 93 bits
  EXPECT_EQ(device_.BusTimeUs(), 930u);
  ASSERT_EQ(ProgramPage(row_), 0);  // start, 21 bytes, stop: 191 bits
  EXPECT_EQ(device_.BusTimeUs(), 930u + 1910u);
  EXPECT_EQ(device_.transcript()[1].time_us - device_.transcript()[0].time_us, 930u);
}

// A time-based busy period ends as bus time passes, so a script that polls without sleeping
// still finishes, and the elapsed time is what the run would take on a real bus.
TEST(SimTimingTest, ModeledUpdateTime) {
  virtual_clock::Reset();
  sim::Device device;
  device.config().bus_hz = 400000;
  device.config().row_busy.microseconds = 200;
  sim::Attach(&device);
  InitCPLDDevice(5, 0x40);
  const auto image = sim_test::MakeImage(5);
  std::string failure;
  ASSERT_TRUE(sim::RunScriptedUpdate(*image, &failure)) << failure;
  sim::Attach(nullptr);

  // Each row is still being programmed at the first poll (165 us later), not at the second.
  EXPECT_EQ(device.counters().busy_answers, 3838u);
  // The only sleep is the second inside Refresh; everything else is bus time.
  EXPECT_EQ(device.ElapsedUs(), 1000000u + device.BusTimeUs());
  EXPECT_GT(device.BusTimeUs(), 3838u * 200u);
}

}  // namespace
