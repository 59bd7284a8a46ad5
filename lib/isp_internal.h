// Internals of the programming sequence, shared with its tests; not exported from the library.
#ifndef FUSEKIT_ISP_INTERNAL_H
#define FUSEKIT_ISP_INTERNAL_H

#include <cstdint>

extern "C" {

// Polls the busy byte until the device is ready or 15 000 polls found it busy (1 ms apart).
// Returns 0 in both cases, with *p_timeout 0 or 1, or the negative result of a failed poll.
int WaitDeviceReady(uint8_t* p_timeout);

// Waits for the device, then checks the fail flag of the command it just finished.
// Returns 0, ERR_CHECK_READY, ERR_TIMEOUT, ERR_CHECK_RESULT or ERR_RESULT_FAIL.
int WaitAndCheckResult(void);

// Sends one 16-byte row and waits until the device has taken it.
// Returns 0, ERR_PROGRAM_PAGE, ERR_CHECK_READY or ERR_TIMEOUT.
int ProgramPageAndWait(const uint8_t* p_page);

}

#endif
