// A virtual clock for tests: the test programs define sleep() and usleep() so that every delay
// advances this clock and is recorded, instead of being slept for real.
#ifndef FUSEKIT_TEST_VIRTUAL_CLOCK_H
#define FUSEKIT_TEST_VIRTUAL_CLOCK_H

#include <cstdint>
#include <vector>

extern "C" uint64_t virtual_clock_now_us(void);

namespace virtual_clock {

// Sets the clock to 0 and forgets the recorded delays.
void Reset();
// Every delay since the last reset, in microseconds, in call order (sleep(n) records n * 1e6).
const std::vector<uint64_t>& Delays();
// Lets time pass without a recorded delay, e.g. for the duration of a bus transfer.
void Advance(uint64_t microseconds);

}  // namespace virtual_clock

#endif
