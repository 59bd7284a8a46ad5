// Drop-in libboardi2c.so.1: the platform's three I2C calls answered by one simulated device that
// is configured from FUSEKIT_SIM_* variables on the first call. The device's state goes to the
// state file after the commands that change it for good (erase, USERCODE, DONE, disable, refresh)
// and when the process exits, so the next run finds what this one left.
#include <cstdio>

#include "board_i2c.h"
#include "sim_device.h"

extern char** environ;

namespace {

bool Milestone(uint8_t op) {
  return op == sim::opcode::kErase || op == sim::opcode::kProgramUsercode ||
         op == sim::opcode::kProgramDone || op == sim::opcode::kDisableInterface ||
         op == sim::opcode::kRefresh;
}

void WriteText(const std::string& destination, const std::string& text) {
  if (destination == "-") {
    std::fputs(text.c_str(), stderr);
    return;
  }
  FILE* file = std::fopen(destination.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(stderr, "fusekit-sim: cannot write %s\n", destination.c_str());
    return;
  }
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

class DropIn {
 public:
  DropIn() { configured_ = sim::ConfigureFromEnvironment(&device_, environ, &settings_); }

  ~DropIn() {
    if (!configured_) return;
    if (dirty_) SaveState();
    if (!settings_.transcript_path.empty()) {
      std::string text;
      for (const sim::TranscriptEntry& entry : device_.transcript()) {
        text += sim::Describe(entry);
        text += '\n';
      }
      WriteText(settings_.transcript_path, text);
    }
    if (!settings_.report_path.empty()) WriteText(settings_.report_path, sim::Summary(device_));
  }

  sim::Device& device() { return device_; }

  // Records the effect of a finished transfer on what must be saved.
  void After(const uint8_t* write_data, int write_length, int result) {
    if (!configured_ || result < 0) return;
    dirty_ = true;
    if (write_data != nullptr && write_length > 0 && Milestone(write_data[0])) SaveState();
  }

 private:
  void SaveState() {
    if (settings_.state_path.empty()) return;
    std::string error;
    if (device_.Save(settings_.state_path, &error)) {
      dirty_ = false;
    } else if (!save_failure_reported_) {
      std::fprintf(stderr, "fusekit-sim: %s\n", error.c_str());
      save_failure_reported_ = true;
    }
  }

  sim::Device device_;
  sim::EnvironmentSettings settings_;
  bool configured_ = false;
  bool dirty_ = false;
  bool save_failure_reported_ = false;
};

DropIn& Instance() {
  static DropIn instance;
  return instance;
}

}  // namespace

extern "C" {

int i2c_master_write(const char* device, uint8_t address, const uint8_t* data, int length) {
  DropIn& drop_in = Instance();
  const int result = drop_in.device().Write(device, address, data, length);
  drop_in.After(data, length, result);
  return result;
}

int i2c_master_read(const char* device, uint8_t address, uint8_t* data, int length) {
  DropIn& drop_in = Instance();
  const int result = drop_in.device().Read(device, address, data, length);
  drop_in.After(nullptr, 0, result);
  return result;
}

int i2c_writeread(const char* device, uint8_t address, const uint8_t* write_data,
                  uint8_t* read_data, int write_length, int read_length) {
  DropIn& drop_in = Instance();
  const int result = drop_in.device().WriteRead(device, address, write_data, read_data,
                                                write_length, read_length);
  drop_in.After(write_data, write_length, result);
  return result;
}

}
