// Replaces the C library's sleep() and usleep() in the test programs (and, preloaded, in the
// update program under end-to-end test) with a clock that only counts.
//
// Preloaded, it can also show what a watcher of the program's files sees while the program
// waits: with VIRTUAL_CLOCK_WATCH set to a space-separated list of paths and
// VIRTUAL_CLOCK_WATCH_LOG to a log file, every wait of 100 ms or more appends one line:
// "<microseconds> <path>=<content> ..." where the content is "-" for a missing file and line
// feeds are written as "\n".
#include "virtual_clock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint64_t kWatchedDelayUs = 100000;

void AppendContent(std::FILE* log, const char* path) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) {
    std::fputc('-', log);
    return;
  }
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    if (c == '\n') {
      std::fputs("\\n", log);
    } else {
      std::fputc(c, log);
    }
  }
  std::fclose(file);
}

void LogWatchedFiles(uint64_t microseconds) {
  const char* watch = std::getenv("VIRTUAL_CLOCK_WATCH");
  const char* log_path = std::getenv("VIRTUAL_CLOCK_WATCH_LOG");
  if (watch == nullptr || log_path == nullptr || microseconds < kWatchedDelayUs) return;
  std::FILE* log = std::fopen(log_path, "a");
  if (log == nullptr) return;
  std::fprintf(log, "%llu", static_cast<unsigned long long>(microseconds));
  char path[512];
  for (const char* start = watch; *start != '\0';) {
    const size_t length = std::strcspn(start, " ");
    if (length > 0 && length < sizeof(path)) {
      std::memcpy(path, start, length);
      path[length] = '\0';
      std::fprintf(log, " %s=", path);
      AppendContent(log, path);
    }
    start += length;
    if (*start == ' ') ++start;
  }
  std::fputc('\n', log);
  std::fclose(log);
}

uint64_t now_us;
std::vector<uint64_t>& DelayLog() {
  static std::vector<uint64_t> log;
  return log;
}

void Delay(uint64_t microseconds) {
  LogWatchedFiles(microseconds);
  now_us += microseconds;
  DelayLog().push_back(microseconds);
}

}  // namespace

namespace virtual_clock {

void Reset() {
  now_us = 0;
  DelayLog().clear();
}

const std::vector<uint64_t>& Delays() { return DelayLog(); }

void Advance(uint64_t microseconds) { now_us += microseconds; }

}  // namespace virtual_clock

// Defined without <unistd.h> so that the C library's declarations do not clash with these.
extern "C" {

__attribute__((visibility("default"))) uint64_t virtual_clock_now_us(void) { return now_us; }

__attribute__((visibility("default"))) unsigned int sleep(unsigned int seconds) {
  Delay(static_cast<uint64_t>(seconds) * 1000000u);
  return 0;
}

__attribute__((visibility("default"))) int usleep(unsigned int microseconds) {
  Delay(microseconds);
  return 0;
}

}
