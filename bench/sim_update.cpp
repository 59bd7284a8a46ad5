// How fast the simulated device answers a complete update: the scripted command sequence (check,
// erase, 3838 rows programmed with one busy poll each and read back, DONE, refresh) through the
// command layer, about 16k transfers. Sleeps run on the virtual clock.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "fusekit.h"
#include "scripted_update.h"
#include "sim_device.h"

namespace {

std::unique_ptr<IspInfo> MakeImage() {
  auto image = std::make_unique<IspInfo>();
  std::memset(image.get(), 0, sizeof(IspInfo));
  uint8_t* bytes = &image->cf_rows[0][0];
  for (size_t i = 0; i < sizeof(image->cf_rows) + sizeof(image->ufm_rows); ++i) {
    bytes[i] = static_cast<uint8_t>(i * 131 + 7) | 1;
  }
  image->usercode = 0x12345678;
  return image;
}

void RunUpdates(benchmark::State& bench, const sim::Config& config) {
  const auto image = MakeImage();
  auto device = std::make_unique<sim::Device>(config);
  sim::Attach(device.get());
  InitCPLDDevice(5, 0x40);
  uint64_t transfers = 0;
  uint64_t elapsed_us = 0;
  for (auto _ : bench) {
    bench.PauseTiming();
    *device = sim::Device(config);
    bench.ResumeTiming();
    std::string failure;
    if (!sim::RunScriptedUpdate(*image, &failure)) {
      bench.SkipWithError(("update failed: " + failure).c_str());
      break;
    }
    transfers = device->counters().transfers;
    elapsed_us = device->ElapsedUs();
  }
  sim::Attach(nullptr);
  bench.counters["transfers"] = static_cast<double>(transfers);
  bench.counters["modeled_s"] = static_cast<double>(elapsed_us) / 1e6;
  bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations() * transfers));
}

void BM_CompleteUpdate(benchmark::State& bench) { RunUpdates(bench, sim::Config()); }
BENCHMARK(BM_CompleteUpdate)->Unit(benchmark::kMillisecond);

void BM_CompleteUpdateWithTranscript(benchmark::State& bench) {
  sim::Config config;
  config.record_transcript = true;
  RunUpdates(bench, config);
}
BENCHMARK(BM_CompleteUpdateWithTranscript)->Unit(benchmark::kMillisecond);

// With the timing model on: modeled_s is what the same traffic would take on the bus (the 1 s
// pause inside Refresh included), with 200 us of programming per row.
void BM_CompleteUpdateTimed(benchmark::State& bench) {
  sim::Config config;
  config.bus_hz = static_cast<uint32_t>(bench.range(0));
  config.row_busy.microseconds = 200;
  RunUpdates(bench, config);
}
BENCHMARK(BM_CompleteUpdateTimed)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
