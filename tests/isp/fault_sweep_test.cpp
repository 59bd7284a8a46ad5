// A complete update with one bus failure injected at each transfer in turn: every run must end
// with the code that the failing step calls for, clean up exactly when programming had begun,
// and leave the device either running the image or blank.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "blank_device.h"
#include "fusekit.h"
#include "output_capture.h"
#include "sim_device.h"
#include "temp_dir.h"
#include "update_sequence.h"
#include "virtual_clock.h"

namespace {

using update_sequence::Transfer;

#if defined(FUSEKIT_FAULT_SWEEP_SAMPLED)
constexpr bool kSampled = true;
#else
constexpr bool kSampled = false;
#endif

// Under the sanitizers or an emulator a run costs several times as much: there the sweep takes
// every transfer outside the row loops, the first and last rows of each loop, and every 13th
// transfer; elsewhere every transfer.
constexpr size_t kSampleStride = 13;
constexpr int kChunks = 8;

const std::vector<Transfer>& Sequence() {
  static const std::vector<Transfer> sequence = update_sequence::CompleteUpdate();
  return sequence;
}

bool Swept(size_t index) {
  if (!kSampled) return true;
  const std::vector<Transfer>& sequence = Sequence();
  const Transfer& transfer = sequence[index];
  if (transfer.row < 2) return true;  // outside the loops, or their first rows
  const bool near_loop_end = index + 4 >= sequence.size() || sequence[index + 4].row < transfer.row;
  return near_loop_end || index % kSampleStride == 0;
}

class FaultSweep : public testing::TestWithParam<int> {};

TEST(FaultSweepSequence, MatchesAFaultFreeRun) {
  // The sweep's expectations are indexed by transfer: they hold only if a good run sends
  // exactly these transfers.
  const auto image = update_sequence::MakeImage();
  TempDir dir;
  const std::string progress = dir.File("progress");
  sim::Config config;
  config.feabits = image->feabits;
  config.record_transcript = true;
  sim::Device device(config);
  InitCPLDDevice(5, 0x40);
  sim::Attach(&device);
  ASSERT_EQ(ISPFull(image.get(), progress.c_str()), 0);
  sim::Attach(nullptr);
  ASSERT_EQ(device.transcript().size(), Sequence().size());
  for (size_t i = 0; i < Sequence().size(); ++i) {
    ASSERT_EQ(device.transcript()[i].out[0], Sequence()[i].opcode) << "transfer " << i + 1;
  }
  std::printf("a complete update makes %zu transfers\n", Sequence().size());
}

TEST_P(FaultSweep, EachTransferFailingOnce) {
  const auto image = update_sequence::MakeImage();
  TempDir dir;
  const std::string progress = dir.File("progress");
  InitCPLDDevice(5, 0x40);

  const size_t count = Sequence().size();
  const size_t first = count * GetParam() / kChunks;
  const size_t end = count * (GetParam() + 1) / kChunks;
  size_t runs = 0;
  const auto start = std::chrono::steady_clock::now();
  for (size_t index = first; index < end; ++index) {
    if (!Swept(index)) continue;
    ++runs;
    const Transfer& expected = Sequence()[index];
    SCOPED_TRACE(testing::Message() << "failing transfer " << index + 1 << " (opcode 0x"
                                    << std::hex << int{expected.opcode} << ")");
    virtual_clock::Reset();
    sim::Config config;
    config.feabits = image->feabits;
    sim::Faults faults;
    sim::TransferFault fault;
    fault.opcode = sim::kAnyOpcode;
    fault.occurrence = index + 1;
    fault.code = -EIO;
    faults.transfers.push_back(fault);
    sim::Device device(config, faults);
    sim::Attach(&device);
    output_capture::StartStdout();
    output_capture::StartStderr();
    const int result = ISPFull(image.get(), progress.c_str());
    const std::string err = output_capture::TakeStderr();
    const std::string out = output_capture::TakeStdout();
    sim::Attach(nullptr);

    ASSERT_EQ(device.counters().injected_failures, 1u);
    ASSERT_EQ(result, expected.result_when_it_fails);
    const bool cleaned_up = out.find("Start clean up...\n") != std::string::npos;
    ASSERT_EQ(cleaned_up, expected.clean_up_when_it_fails);
    // The failing transfer's bus error is always reported.
    ASSERT_NE(err.find("I2C bus IO error, code: 0xfffffffb"), std::string::npos);
    if (result == 0) {
      ASSERT_TRUE(sim::Compare(device.state(), *image).Matches());
    } else if (cleaned_up) {
      ASSERT_TRUE(Blank(device));
      ASSERT_FALSE(device.state().transparent);
    } else {
      ASSERT_EQ(device.counters().Opcode(update_sequence::op::kRefresh), 0u);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("transfers %zu to %zu: %zu runs in %.1f s\n", first + 1, end, runs, seconds);
}

INSTANTIATE_TEST_SUITE_P(Chunks, FaultSweep, testing::Range(0, kChunks));

}  // namespace
