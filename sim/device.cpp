// The device model (implementation in progress).
#include "sim_device.h"

namespace sim {

Device::Device(Config config, Faults faults) : config_(std::move(config)), faults_(std::move(faults)) {}
int Device::Write(const char*, uint8_t, const uint8_t*, int) { return kRefusedCode; }
int Device::Read(const char*, uint8_t, uint8_t*, int) { return kRefusedCode; }
int Device::WriteRead(const char*, uint8_t, const uint8_t*, uint8_t*, int, int) { return kRefusedCode; }
Row& Device::row(int r) { return r < kCfRowCount ? state_.cf[r] : state_.ufm[r - kCfRowCount]; }
const Row& Device::row(int r) const { return r < kCfRowCount ? state_.cf[r] : state_.ufm[r - kCfRowCount]; }
uint32_t Device::StatusRegister() const { return 0; }
bool Device::Busy() const { return false; }
uint64_t Device::NowUs() const { return 0; }
uint64_t Device::ElapsedUs() const { return 0; }
void Device::Misconfigure(const std::string&) { misconfigured_ = true; }
bool Device::Save(const std::string& path, std::string* error) const { return SaveState(state_, path, error); }
bool Device::Load(const std::string& path, std::string* error) { return LoadState(path, &state_, error); }

}  // namespace sim
