// A complete update as a fixed script of device commands, through libfusekit's command layer:
// check, enable, erase, program and read back CF, USERCODE and UFM, DONE, disable, refresh. It
// stands in for the full programming sequence where the tests and the benchmark need a whole
// update's traffic; it polls the busy byte until ready after each operation and stops at the
// first thing that goes wrong.
#ifndef FUSEKIT_SIM_SCRIPTED_UPDATE_H
#define FUSEKIT_SIM_SCRIPTED_UPDATE_H

#include <string>

#include "fusekit.h"

namespace sim {

// Runs the script against the bound device. Returns true on success; otherwise false with the
// failed step in `failure`.
bool RunScriptedUpdate(const IspInfo& image, std::string* failure);

}  // namespace sim

#endif
