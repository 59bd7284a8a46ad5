// Internals of the device command layer, shared with its tests; not exported from the library.
#ifndef FUSEKIT_CPLD_INTERNAL_H
#define FUSEKIT_CPLD_INTERNAL_H

#include <cstdint>

extern "C" {

// The shape of the two routines through which every device command reaches the bus.
typedef int (*TransferRoutine)(const uint8_t* p_write, uint8_t* p_read, int write_length,
                               int read_length);

// Runs one transfer; a failure is reported once, with its code. Returns 0 or the negative code.
int CommandTransfer(TransferRoutine routine, const uint8_t* p_write, uint8_t* p_read,
                    int write_length, int read_length);

// A transfer that only writes; the read buffer and length are ignored.
int WriteOnlyTransfer(const uint8_t* p_write, uint8_t* p_read, int write_length, int read_length);

// Reverses 2, 4 or 8 bytes in place; any other size is reported and left alone.
void SwapBytes(uint8_t* p_data, int size);

}

#endif
