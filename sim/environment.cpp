// Configuration of the simulated device from FUSEKIT_SIM_* environment variables (drop-in use).
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "number_text.h"
#include "sim_device.h"

namespace sim {
namespace {

constexpr char kPrefix[] = "FUSEKIT_SIM_";

// "N" polls, "forever", "Nus" or "Nms".
bool ParseBusy(const std::string& text, BusyTime* busy) {
  int64_t value;
  if (text == "forever") {
    *busy = BusyTime{kForever, 0};
    return true;
  }
  for (const char* unit : {"us", "ms"}) {
    const size_t length = std::strlen(unit);
    if (text.size() > length && text.compare(text.size() - length, length, unit) == 0) {
      if (!ParseInteger(text.substr(0, text.size() - length), 0, INT64_MAX / 1000, &value)) {
        return false;
      }
      *busy = BusyTime{0, static_cast<uint64_t>(value) * (unit[0] == 'm' ? 1000u : 1u)};
      return true;
    }
  }
  if (!ParseInteger(text, 0, kForever - 1, &value)) return false;
  *busy = BusyTime{static_cast<uint32_t>(value), 0};
  return true;
}

bool ParseFlag(const std::string& text, bool* flag) {
  if (text != "0" && text != "1") return false;
  *flag = text == "1";
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Applies one variable; returns false with a message in `error`.
bool Apply(const std::string& name, const std::string& value, Config* config, Faults* faults,
           EnvironmentSettings* settings, std::string* error) {
  int64_t number;
  const auto malformed = [&](const char* expected) {
    *error = name + "=" + value + ": malformed value (expected " + expected + ")";
    return false;
  };
  if (name == "FUSEKIT_SIM_STATE") {
    if (value.empty()) return malformed("a file path");
    settings->state_path = value;
    return true;
  }
  if (name == "FUSEKIT_SIM_TRANSCRIPT" || name == "FUSEKIT_SIM_REPORT") {
    if (value.empty()) return malformed("a file path or -");
    (name == "FUSEKIT_SIM_REPORT" ? settings->report_path : settings->transcript_path) = value;
    if (name == "FUSEKIT_SIM_TRANSCRIPT") config->record_transcript = true;
    return true;
  }
  if (name == "FUSEKIT_SIM_DEVICE_ID") {
    if (!ParseInteger(value, 0, UINT32_MAX, &number)) return malformed("a 32-bit number");
    config->device_id = static_cast<uint32_t>(number);
    return true;
  }
  if (name == "FUSEKIT_SIM_FEABITS") {
    if (!ParseInteger(value, 0, UINT16_MAX, &number)) return malformed("a 16-bit number");
    config->feabits = static_cast<uint16_t>(number);
    return true;
  }
  if (name == "FUSEKIT_SIM_KEY_PROTECTION") {
    return ParseFlag(value, &config->key_protection) || malformed("0 or 1");
  }
  if (name == "FUSEKIT_SIM_OTP") return ParseFlag(value, &config->otp) || malformed("0 or 1");
  if (name == "FUSEKIT_SIM_BUS") {
    if (value.empty()) return malformed("a device path or any");
    config->device_path = value == "any" ? "" : value;
    return true;
  }
  if (name == "FUSEKIT_SIM_ADDRESS") {
    if (value == "any") {
      config->slave_address = -1;
      return true;
    }
    if (!ParseInteger(value, 0, 0xFF, &number)) return malformed("an address 0 to 0xFF or any");
    config->slave_address = static_cast<int>(number);
    return true;
  }
  if (name == "FUSEKIT_SIM_BUS_HZ") {
    if (!ParseInteger(value, 1, 10000000, &number)) return malformed("a bus clock in Hz");
    config->bus_hz = static_cast<uint32_t>(number);
    return true;
  }
  struct BusyVariable {
    const char* name;
    BusyTime Config::*field;
  };
  static const BusyVariable kBusyVariables[] = {
      {"FUSEKIT_SIM_BUSY_ERASE", &Config::erase_busy},
      {"FUSEKIT_SIM_BUSY_ROW", &Config::row_busy},
      {"FUSEKIT_SIM_BUSY_USERCODE", &Config::usercode_busy},
      {"FUSEKIT_SIM_BUSY_DONE", &Config::done_busy},
      {"FUSEKIT_SIM_BUSY_TRANSPARENT", &Config::transparent_busy},
      {"FUSEKIT_SIM_BUSY_REFRESH", &Config::refresh_busy},
  };
  for (const BusyVariable& variable : kBusyVariables) {
    if (name == variable.name) {
      return ParseBusy(value, &(config->*variable.field)) ||
             malformed("a poll count, forever, or a time such as 300us or 2ms");
    }
  }
  if (name == "FUSEKIT_SIM_FAULTS") {
    std::string fault_error;
    if (ParseFaults(value, faults, &fault_error)) return true;
    *error = name + ": " + fault_error;
    return false;
  }
  *error = "unknown setting " + name;
  return false;
}

bool PrepareStateFile(const std::string& path, State* state, std::string* error) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) return LoadState(path, state, error);
  if (errno != ENOENT) {
    *error = "state file " + path + ": " + std::strerror(errno);
    return false;
  }
  const std::string directory = DirectoryOf(path);
  if (access(directory.c_str(), W_OK | X_OK) != 0) {
    *error = "state file " + path + ": cannot be created in " + directory + ": " +
             std::strerror(errno);
    return false;
  }
  return true;  // a fresh device; the file appears when the state is first saved
}

}  // namespace

bool ConfigureFromEnvironment(Device* device, const char* const* environment,
                              EnvironmentSettings* settings) {
  Config config = device->config();
  Faults faults = device->faults();
  EnvironmentSettings wanted;
  std::string error;
  bool ok = true;
  for (const char* const* entry = environment; ok && entry != nullptr && *entry != nullptr;
       ++entry) {
    if (std::strncmp(*entry, kPrefix, sizeof(kPrefix) - 1) != 0) continue;
    const char* equals = std::strchr(*entry, '=');
    const std::string name = equals ? std::string(*entry, equals) : std::string(*entry);
    const std::string value = equals ? std::string(equals + 1) : std::string();
    ok = Apply(name, value, &config, &faults, &wanted, &error);
  }
  State state = device->state();
  if (ok && !wanted.state_path.empty()) ok = PrepareStateFile(wanted.state_path, &state, &error);
  if (!ok) {
    device->Misconfigure(error + "; every transfer will fail");
    return false;
  }
  device->config() = config;
  device->faults() = faults;
  device->state() = state;
  *settings = wanted;
  return true;
}

}  // namespace sim
