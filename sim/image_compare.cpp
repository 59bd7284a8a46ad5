#include "sim_device.h"
namespace sim {
Comparison Compare(const State&, const IspInfo&) { return {}; }
Comparison Compare(const State&, const uint8_t*, const uint8_t*) { return {}; }
uint32_t Crc32(const uint8_t*, size_t) { return 0; }
}
