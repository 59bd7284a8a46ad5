// Internals of the progress file, shared with its tests; not exported from the library.
#ifndef FUSEKIT_UPGRADE_PROGRESS_INTERNAL_H
#define FUSEKIT_UPGRADE_PROGRESS_INTERNAL_H

#include <cstdint>

extern "C" {

// The percentage that `finished` of `total` steps shows while an operation runs: the quotient
// times 100 in single precision, truncated toward zero (saturating at 2^32 - 1; NaN gives 0),
// cut to its low 8 bits and capped at 99. Only an explicit UpdateProgress shows 100.
uint32_t ProgressPercentage(uint32_t finished, uint32_t total);

}

#endif
