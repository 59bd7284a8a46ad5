// ParserJEDFile on a full-size fuse file (3838 rows), against a plain getline loop over the same
// file. Reports time per file, MB/s and, for the parse, its ratio to the getline loop.
//   build/bench/bench_jed_parse
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fusekit.h"
#include "jed_writer.h"

namespace {

// The sample fuse file, written once into a temporary directory and removed at exit.
class SampleFile {
 public:
  SampleFile() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/jed_bench.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) std::abort();
    directory_ = pattern;
    path_ = directory_ + "/full.jed";
    std::unique_ptr<IspInfo> image(new IspInfo());
    jed_writer::FillSampleImage(1, image.get());
    std::string error;
    if (!jed_writer::WriteJedFile(path_, *image, jed_writer::Options(), &error)) {
      std::fprintf(stderr, "cannot write the sample file: %s\n", error.c_str());
      std::abort();
    }
    FILE* file = std::fopen(path_.c_str(), "r");
    if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0) std::abort();
    size_ = static_cast<size_t>(std::ftell(file));
    std::fclose(file);
  }
  ~SampleFile() {
    unlink(path_.c_str());
    rmdir(directory_.c_str());
  }
  const std::string& path() const { return path_; }
  size_t size() const { return size_; }

 private:
  std::string directory_, path_;
  size_t size_ = 0;
};

const SampleFile& Sample() {
  static SampleFile sample;
  return sample;
}

// Reads every line of the file with getline and touches each, as the least any reader does.
size_t GetlineLoop(const char* path) {
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) std::abort();
  char* line = nullptr;
  size_t capacity = 0;
  size_t total = 0;
  ssize_t length;
  while ((length = getline(&line, &capacity, file)) >= 0) total += static_cast<size_t>(length) + line[0];
  std::free(line);
  std::fclose(file);
  return total;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Throughput in MB/s (10^6 bytes); shown as "MB=...k/s" for thousands of MB/s.
benchmark::Counter MegabytesPerSecond(const benchmark::State& state, size_t bytes) {
  return benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(bytes) / 1e6,
                            benchmark::Counter::kIsRate);
}

void BM_GetlineLoop(benchmark::State& state) {
  const SampleFile& sample = Sample();
  for (auto _ : state) benchmark::DoNotOptimize(GetlineLoop(sample.path().c_str()));
  state.counters["MB"] = MegabytesPerSecond(state, sample.size());
}

// Each iteration also runs the getline loop, untimed by the benchmark, so that the ratio compares
// the two under the same conditions.
void BM_ParserJEDFile(benchmark::State& state) {
  const SampleFile& sample = Sample();
  std::unique_ptr<IspInfo> record(new IspInfo());
  double parse_seconds = 0, getline_seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const auto getline_start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(GetlineLoop(sample.path().c_str()));
    getline_seconds += SecondsSince(getline_start);
    state.ResumeTiming();

    const auto parse_start = std::chrono::steady_clock::now();
    if (ParserJEDFile(sample.path().c_str(), record.get()) != 0) {
      state.SkipWithError("the sample file did not parse");
      break;
    }
    parse_seconds += SecondsSince(parse_start);
    benchmark::ClobberMemory();
  }
  state.counters["MB"] = MegabytesPerSecond(state, sample.size());
  state.counters["file_KB"] = static_cast<double>(sample.size()) / 1000.0;
  if (getline_seconds > 0) state.counters["ratio_to_getline"] = parse_seconds / getline_seconds;
}

BENCHMARK(BM_GetlineLoop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParserJEDFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
