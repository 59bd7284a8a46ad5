// Replaces the C library's sleep() and usleep() in the test programs (and, preloaded, in the
// update program under end-to-end test) with a clock that only counts.
#include "virtual_clock.h"

namespace {

uint64_t now_us;
std::vector<uint64_t>& DelayLog() {
  static std::vector<uint64_t> log;
  return log;
}

void Delay(uint64_t microseconds) {
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
