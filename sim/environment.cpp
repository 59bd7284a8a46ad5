#include "sim_device.h"
namespace sim {
bool ConfigureFromEnvironment(Device*, const char* const*, EnvironmentSettings*) { return false; }
}
