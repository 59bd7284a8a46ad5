// A complete update against the simulated device on the real clock: how far the wall time of
// ISPFull lies above the sum of its fixed sleeps (5.7906 s: five pauses of 1 s, 3838 row settles
// of 200 us, and 1 ms / 10 ms settles after transparent mode, erase, USERCODE and the address
// resets). The device answers at once, so what remains is sleep overshoot, polling, bus calls
// and the 7676 rewrites of the progress file.
//
// The progress file goes to /dev/shm (memory, like the board's /var) when it exists; set
// FUSEKIT_BENCH_PROGRESS_DIR to measure another file system. The second variant runs with the
// thread's timer slack at 1 ns instead of the kernel's default (50 us), which is what most of the
// overshoot of the 3838 short sleeps comes from; a program that calls ISPFull can set it so.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "fusekit.h"
#include "sim_device.h"

namespace {

constexpr double kNominalSleepSeconds = 5 * 1.0 + 3838 * 200e-6 + 3 * 1e-3 + 2 * 10e-3;

std::unique_ptr<IspInfo> MakeImage() {
  auto image = std::make_unique<IspInfo>();
  uint32_t state = 0x9E3779B9u;
  auto* bytes = reinterpret_cast<uint8_t*>(image->cf_rows);
  for (size_t i = 0; i < sizeof(image->cf_rows) + sizeof(image->ufm_rows); ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<uint8_t>(state >> 24);
  }
  image->feabits = 0x0420;
  image->usercode = 0xCAFEF00D;
  return image;
}

std::string ProgressDirectory() {
  const char* chosen = getenv("FUSEKIT_BENCH_PROGRESS_DIR");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  return access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
}

void BM_ISPFullRealClock(benchmark::State& state) {
  const auto image = MakeImage();
  const std::string progress_path =
      ProgressDirectory() + "/fusekit_bench_progress_" + std::to_string(getpid());
  InitCPLDDevice(5, 0x40);
  const bool fine_timer_slack = state.range(0) != 0;
  const int default_slack_ns = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  if (fine_timer_slack) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  double wall_seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim::Config config;
    config.feabits = image->feabits;
    sim::Device device(config);
    sim::Attach(&device);
    ResetProgress();
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    const int result = ISPFull(image.get(), progress_path.c_str());
    wall_seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    state.PauseTiming();
    sim::Attach(nullptr);
    if (result != 0) {
      state.SkipWithError("ISPFull failed");
      break;
    }
    state.ResumeTiming();
  }
  if (fine_timer_slack) {
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(default_slack_ns), 0, 0, 0);
  }
  std::remove(progress_path.c_str());
  state.SetLabel("progress file in " + ProgressDirectory() + ", timer slack " +
                 (fine_timer_slack ? "1" : std::to_string(default_slack_ns)) + " ns");
  if (state.iterations() == 0) return;
  const double mean_wall_seconds = wall_seconds / static_cast<double>(state.iterations());
  state.counters["nominal_sleep_s"] = kNominalSleepSeconds;
  state.counters["wall_s"] = mean_wall_seconds;
  state.counters["above_nominal_pct"] = (mean_wall_seconds / kNominalSleepSeconds - 1) * 100;
}

BENCHMARK(BM_ISPFullRealClock)
    ->ArgName("fine_timer_slack")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(false);

}  // namespace

BENCHMARK_MAIN();
