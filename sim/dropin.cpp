// Drop-in libboardi2c.so.1 (implementation in progress).
#include "board_i2c.h"
#include "sim_device.h"
extern "C" {
int i2c_master_write(const char*, uint8_t, const uint8_t*, int) { return sim::kNoDeviceCode; }
int i2c_master_read(const char*, uint8_t, uint8_t*, int) { return sim::kNoDeviceCode; }
int i2c_writeread(const char*, uint8_t, const uint8_t*, uint8_t*, int, int) { return sim::kNoDeviceCode; }
}
