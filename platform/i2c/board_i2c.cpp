// The board I2C library's three calls on top of the Linux i2c-dev interface.
#include "board_i2c.h"

#include "i2c_dev_backend.h"

extern "C" {

int i2c_master_write(const char* device, uint8_t address, const uint8_t* data, int length) {
  return board_i2c::Transfer(device, address, data, length, nullptr, 0);
}

int i2c_master_read(const char* device, uint8_t address, uint8_t* data, int length) {
  return board_i2c::Transfer(device, address, nullptr, 0, data, length);
}

int i2c_writeread(const char* device, uint8_t address, const uint8_t* write_data,
                  uint8_t* read_data, int write_length, int read_length) {
  return board_i2c::Transfer(device, address, write_data, write_length, read_data, read_length);
}

}
