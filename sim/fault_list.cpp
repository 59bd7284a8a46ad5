#include "sim_device.h"
namespace sim {
bool ParseFaults(const std::string&, Faults*, std::string*) { return false; }
}
