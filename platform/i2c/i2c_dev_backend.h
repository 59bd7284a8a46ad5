// The pieces of the Linux i2c-dev backend, apart so that they can be checked without a bus.
#ifndef BOARD_I2C_DEV_BACKEND_H
#define BOARD_I2C_DEV_BACKEND_H

#include <linux/i2c.h>

#include <cstddef>
#include <cstdint>

namespace board_i2c {

// Maps a bound path onto the kernel's bus device: "/dev/i2cN" becomes "/dev/i2c-N" unless the
// path exists as given. Returns 0, or -ENAMETOOLONG when the result does not fit `size`.
int MapDevicePath(const char* path, char* out, std::size_t size);

// The bound address is the slave's 7-bit address; anything above 0x7F is refused (-EINVAL).
int KernelAddress(uint8_t address);

// Fills `messages` for one combined transaction: a write message when write_length > 0, then a
// read message when read_length > 0. Returns the number of messages (1 or 2), or -EINVAL for
// negative or oversized lengths, a missing buffer, or nothing to transfer.
int BuildMessages(uint16_t address, const uint8_t* write_data, int write_length, uint8_t* read_data,
                  int read_length, i2c_msg messages[2]);

// Runs the transaction on the bus device: open, one I2C_RDWR ioctl, close. Returns the number of
// bytes written and read, or a negative errno value; no descriptor stays open.
int Transfer(const char* device, uint8_t address, const uint8_t* write_data, int write_length,
             uint8_t* read_data, int read_length);

}  // namespace board_i2c

#endif
