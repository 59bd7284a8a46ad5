// The platform's three I2C calls, routed to the attached simulated device.
#include "board_i2c.h"
#include "sim_device.h"

namespace sim {
namespace {
Device* attached_device;
}
void Attach(Device* device) { attached_device = device; }
Device* Attached() { return attached_device; }
}  // namespace sim

extern "C" {

int i2c_master_write(const char* device, uint8_t address, const uint8_t* data, int length) {
  sim::Device* target = sim::Attached();
  return target ? target->Write(device, address, data, length) : sim::kNoDeviceCode;
}

int i2c_master_read(const char* device, uint8_t address, uint8_t* data, int length) {
  sim::Device* target = sim::Attached();
  return target ? target->Read(device, address, data, length) : sim::kNoDeviceCode;
}

int i2c_writeread(const char* device, uint8_t address, const uint8_t* write_data,
                  uint8_t* read_data, int write_length, int read_length) {
  sim::Device* target = sim::Attached();
  return target ? target->WriteRead(device, address, write_data, read_data, write_length,
                                    read_length)
                : sim::kNoDeviceCode;
}

}
