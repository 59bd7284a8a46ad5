/* Board I2C library: the three transfers that libfusekit needs from the platform.
 *
 * The device path names the bus ("/dev/i2c5"); the address is the slave's 7-bit address.
 * Each call returns a non-negative value on success and a negative errno value on failure.
 * A board may ship its own library with this soname and these three functions in its place. */
#ifndef BOARD_I2C_H
#define BOARD_I2C_H

#include <stdint.h>

#define BOARD_I2C_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* One write transaction of `length` bytes. */
BOARD_I2C_API int i2c_master_write(const char* device, uint8_t address, const uint8_t* data,
                                   int length);
/* One read transaction of `length` bytes into `data`. */
BOARD_I2C_API int i2c_master_read(const char* device, uint8_t address, uint8_t* data, int length);
/* A write of `write_length` bytes, a repeated start, then a read of `read_length` bytes: one
 * combined transaction. */
BOARD_I2C_API int i2c_writeread(const char* device, uint8_t address, const uint8_t* write_data,
                                uint8_t* read_data, int write_length, int read_length);

#ifdef __cplusplus
}
#endif

#endif
