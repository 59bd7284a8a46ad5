// The device model: checks each transfer against the command protocol, executes it on the state
// and answers, with the configured busy periods and injected faults.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim_device.h"

// Present when the process has the tests' virtual clock (linked in or preloaded).
extern "C" uint64_t virtual_clock_now_us(void) __attribute__((weak, visibility("default")));

namespace sim {
namespace {

constexpr uint64_t kPollsForever = UINT64_MAX;

// One command of the protocol: the exact bytes that follow the opcode, the full length written
// and the length of the answer (0: written with i2c_master_write, else read with i2c_writeread).
struct CommandShape {
  uint8_t opcode;
  uint8_t operands[3];
  int operand_count;
  int write_length;
  int answer_length;
};

constexpr CommandShape kCommands[] = {
    {opcode::kReadDeviceId, {0x00, 0x00, 0x00}, 3, 4, 4},
    {opcode::kReadBusy, {0x00, 0x00, 0x00}, 3, 4, 1},
    {opcode::kReadStatus, {0x00, 0x00, 0x00}, 3, 4, 4},
    {opcode::kEnableTransparent, {0x08, 0x00, 0x00}, 2, 3, 0},
    {opcode::kReadFeabits, {0x00, 0x00, 0x00}, 3, 4, 2},
    {opcode::kErase, {0x0C, 0x00, 0x00}, 3, 4, 0},
    {opcode::kResetCfAddress, {0x00, 0x00, 0x00}, 3, 4, 0},
    {opcode::kProgramPage, {0x00, 0x00, 0x00}, 3, 4 + kRowSize, 0},
    {opcode::kProgramUsercode, {0x00, 0x00, 0x00}, 3, 8, 0},
    {opcode::kRefresh, {0x00, 0x00, 0x00}, 2, 3, 0},
    {opcode::kReadUsercode, {0x00, 0x00, 0x00}, 3, 4, 4},
    {opcode::kReadPage, {0x00, 0x00, 0x01}, 3, 4, kRowSize},
    {opcode::kBypass, {0xFF, 0xFF, 0xFF}, 3, 4, 0},
    {opcode::kResetUfmAddress, {0x00, 0x00, 0x00}, 3, 4, 0},
    {opcode::kProgramDone, {0x00, 0x00, 0x00}, 3, 4, 0},
    {opcode::kDisableInterface, {0x00, 0x00, 0x00}, 2, 3, 0},
};

const CommandShape* FindCommand(uint8_t op) {
  for (const CommandShape& shape : kCommands) {
    if (shape.opcode == op) return &shape;
  }
  return nullptr;
}

// Whether the transfer carries the command exactly as the protocol has it.
bool MatchesShape(const CommandShape& shape, TransferKind kind, const uint8_t* out, int out_length,
                  const uint8_t* in, int in_length) {
  if (out_length != shape.write_length) return false;
  for (int i = 0; i < shape.operand_count; ++i) {
    if (out[1 + i] != shape.operands[i]) return false;
  }
  if (shape.answer_length == 0) return kind == TransferKind::kWrite;
  return kind == TransferKind::kWriteRead && in != nullptr && in_length == shape.answer_length;
}

// Commands that a busy device still answers: they read registers or do nothing.
bool AnsweredWhileBusy(uint8_t op) {
  return op == opcode::kReadBusy || op == opcode::kReadStatus || op == opcode::kReadDeviceId ||
         op == opcode::kReadFeabits || op == opcode::kBypass;
}

void PutMostSignificantFirst(uint32_t value, int size, uint8_t* out) {
  for (int i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
}

bool IsBlank(const Row& row) {
  return std::all_of(row.begin(), row.end(), [](uint8_t byte) { return byte == 0; });
}

bool Contains(const std::vector<int>& rows, uint32_t row) {
  return std::find(rows.begin(), rows.end(), static_cast<int>(row)) != rows.end();
}

uint64_t MonotonicNowUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

// Bits on the wire for a transaction: start, address byte, data bytes (9 bits each with the
// acknowledge), a repeated start and address before the read part, stop.
uint64_t BusBits(TransferKind kind, int out_length, int in_length) {
  const uint64_t out_bytes = out_length > 0 ? static_cast<uint64_t>(out_length) : 0;
  const uint64_t in_bytes = in_length > 0 ? static_cast<uint64_t>(in_length) : 0;
  switch (kind) {
    case TransferKind::kWrite: return 1 + 9 * (1 + out_bytes) + 1;
    case TransferKind::kRead: return 1 + 9 * (1 + in_bytes) + 1;
    case TransferKind::kWriteRead: return 1 + 9 * (1 + out_bytes) + 1 + 9 * (1 + in_bytes) + 1;
  }
  return 0;
}

}  // namespace

Device::Device(Config config, Faults faults)
    : config_(std::move(config)), faults_(std::move(faults)) {}

int Device::Write(const char* device_path, uint8_t address, const uint8_t* data, int length) {
  return Transfer(TransferKind::kWrite, device_path, address, data, length, nullptr, 0);
}

int Device::Read(const char* device_path, uint8_t address, uint8_t* data, int length) {
  return Transfer(TransferKind::kRead, device_path, address, nullptr, 0, data, length);
}

int Device::WriteRead(const char* device_path, uint8_t address, const uint8_t* write_data,
                      uint8_t* read_data, int write_length, int read_length) {
  return Transfer(TransferKind::kWriteRead, device_path, address, write_data, write_length,
                  read_data, read_length);
}

Row& Device::row(int r) {
  return r < kCfRowCount ? state_.cf[r] : state_.ufm[r - kCfRowCount];
}

const Row& Device::row(int r) const {
  return r < kCfRowCount ? state_.cf[r] : state_.ufm[r - kCfRowCount];
}

uint64_t Device::NowUs() const {
  uint64_t base;
  if (config_.clock != nullptr) {
    base = config_.clock();
  } else if (virtual_clock_now_us != nullptr) {
    base = virtual_clock_now_us();
  } else {
    base = MonotonicNowUs();
  }
  return base + bus_time_ns_ / 1000u;
}

uint64_t Device::ElapsedUs() const {
  return counters_.transfers == 0 ? 0 : last_transfer_end_us_ - first_transfer_us_;
}

bool Device::Busy() const {
  return busy_polls_left_ > 0 || (busy_until_us_ != 0 && NowUs() < busy_until_us_);
}

uint32_t Device::StatusRegister() const {
  uint32_t value = 0;
  if (config_.key_protection) value |= status::kKeyProtection;
  if (config_.otp) value |= status::kOtp | status::kOtpHigh;
  if (state_.done) value |= status::kDone;
  if (Busy()) value |= status::kBusy;
  if (state_.fail) value |= status::kFail;
  if (state_.refresh_error) value |= status::kRefreshError;
  for (const StatusFault& fault : faults_.status) {
    const bool active = fault.opcode == kPowerOn ||
                        (fault.opcode >= 0 && fault.opcode <= 0xFF &&
                         executed_by_opcode_[fault.opcode] >= fault.occurrence);
    if (active) value |= fault.bits;
  }
  return value;
}

void Device::Misconfigure(const std::string& message) {
  if (!misconfigured_) std::fprintf(stderr, "fusekit-sim: %s\n", message.c_str());
  misconfigured_ = true;
}

bool Device::Save(const std::string& path, std::string* error) const {
  return SaveState(state_, path, error);
}

bool Device::Load(const std::string& path, std::string* error) {
  return LoadState(path, &state_, error);
}

int Device::Transfer(TransferKind kind, const char* device_path, uint8_t address,
                     const uint8_t* write_data, int write_length, uint8_t* read_data,
                     int read_length) {
  const uint64_t number = ++counters_.transfers;
  const uint64_t start_us = NowUs();
  if (number == 1) {
    first_transfer_us_ = start_us;
    ApplyPowerOnFaults();
  }
  const bool has_opcode = write_data != nullptr && write_length > 0;
  const uint8_t op = has_opcode ? write_data[0] : 0;
  if (has_opcode) ++counters_.by_opcode[op];

  // The transaction is on the bus before the device acts on it: whatever it starts (a busy
  // period) starts at the stop condition.
  if (config_.bus_hz != 0) {
    bus_time_ns_ += BusBits(kind, write_length, read_length) * 1000000000u / config_.bus_hz;
  }

  int result;
  if (misconfigured_) {
    result = kMisconfiguredCode;
  } else if (InjectedFailure(has_opcode, op, number, &result)) {
    ++counters_.injected_failures;
  } else if (config_.slave_address >= 0 && address != config_.slave_address) {
    ++counters_.refused;
    result = kNoDeviceCode;
  } else if (!config_.device_path.empty() &&
             (device_path == nullptr || config_.device_path != device_path)) {
    ++counters_.refused;
    result = kNoBusCode;
  } else {
    result = Execute(kind, write_data, write_length, read_data, read_length);
  }

  last_transfer_end_us_ = NowUs();

  if (config_.record_transcript) {
    TranscriptEntry entry;
    entry.number = number;
    entry.time_us = start_us;
    entry.kind = kind;
    entry.result = result;
    entry.out_length = write_length;
    entry.in_length = read_length;
    if (write_data != nullptr && write_length > 0) {
      std::memcpy(entry.out.data(), write_data,
                  std::min<size_t>(static_cast<size_t>(write_length), entry.out.size()));
    }
    if (read_data != nullptr && read_length > 0 && result >= 0) {
      std::memcpy(entry.in.data(), read_data,
                  std::min<size_t>(static_cast<size_t>(read_length), entry.in.size()));
    }
    transcript_.push_back(entry);
  }
  return result;
}

void Device::ApplyPowerOnFaults() {
  for (const BusyFault& fault : faults_.busy) {
    if (fault.opcode == kPowerOn) HoldBusy(fault.polls);
  }
}

bool Device::InjectedFailure(bool has_opcode, uint8_t op, uint64_t number, int* code) const {
  for (const TransferFault& fault : faults_.transfers) {
    uint64_t seen;
    if (fault.opcode == kAnyOpcode) {
      seen = number;
    } else if (has_opcode && fault.opcode == op) {
      seen = counters_.by_opcode[op];
    } else {
      continue;
    }
    if (seen >= fault.occurrence && (fault.count == 0 || seen - fault.occurrence < fault.count)) {
      *code = fault.code;
      return true;
    }
  }
  return false;
}

void Device::HoldBusy(uint32_t polls) {
  busy_polls_left_ = polls == kForever ? kPollsForever : polls;
  busy_until_us_ = 0;
}

void Device::StartBusy(const BusyTime& busy) {
  busy_polls_left_ = busy.polls == kForever ? kPollsForever : busy.polls;
  busy_until_us_ = busy.microseconds == 0 ? 0 : NowUs() + busy.microseconds;
}

void Device::Reject() {
  state_.fail = true;
  ++counters_.rejected_operations;
}

bool Device::ChangesAllowed() const {
  return state_.transparent && !config_.key_protection && !config_.otp;
}

int Device::Execute(TransferKind kind, const uint8_t* out, int out_length, uint8_t* in,
                    int in_length) {
  const CommandShape* shape =
      (kind == TransferKind::kRead || out == nullptr || out_length < 1) ? nullptr
                                                                        : FindCommand(out[0]);
  if (shape == nullptr || !MatchesShape(*shape, kind, out, out_length, in, in_length)) {
    ++counters_.refused;
    return kRefusedCode;
  }
  const uint8_t op = shape->opcode;
  const int transferred = out_length + in_length;

  if (Busy() && !AnsweredWhileBusy(op)) {
    // Acknowledged on the bus, dropped by the busy device; a read gets the idle bus level.
    ++counters_.ignored_while_busy;
    state_.fail = true;
    if (in_length > 0) std::memset(in, 0xFF, static_cast<size_t>(in_length));
    return transferred;
  }
  ++counters_.executed;
  ++executed_by_opcode_[op];

  switch (op) {
    case opcode::kReadDeviceId:
      PutMostSignificantFirst(config_.device_id, 4, in);
      break;
    case opcode::kReadBusy: {
      const bool busy = Busy();
      if (busy) {
        ++counters_.busy_answers;
        if (busy_polls_left_ > 0 && busy_polls_left_ != kPollsForever) --busy_polls_left_;
      }
      in[0] = busy ? kBusyByteFlag : 0x00;
      break;
    }
    case opcode::kReadStatus:
      PutMostSignificantFirst(StatusRegister(), 4, in);
      break;
    case opcode::kEnableTransparent:
      state_.transparent = true;
      state_.fail = false;
      StartBusy(config_.transparent_busy);
      break;
    case opcode::kReadFeabits:
      PutMostSignificantFirst(config_.feabits, 2, in);
      break;
    case opcode::kErase:
      // Unlike programming, the erase is taken outside transparent mode as well: an update that
      // fails after disabling the configuration interface still erases the device in its clean-up.
      if (config_.key_protection || config_.otp) {
        Reject();
        break;
      }
      for (Row& row : state_.cf) row.fill(0);
      for (Row& row : state_.ufm) row.fill(0);
      state_.usercode.fill(0);
      state_.done_fuse = false;
      state_.done = false;
      state_.fail = false;
      StartBusy(config_.erase_busy);
      break;
    case opcode::kResetCfAddress:
      state_.area = Area::kCf;
      state_.cf_pointer = 0;
      break;
    case opcode::kResetUfmAddress:
      state_.area = Area::kUfm;
      state_.ufm_pointer = 0;
      break;
    case opcode::kProgramPage: {
      const bool cf = state_.area == Area::kCf;
      uint32_t& pointer = cf ? state_.cf_pointer : state_.ufm_pointer;
      const uint32_t rows = cf ? kCfRowCount : kUfmRowCount;
      if (!ChangesAllowed() || pointer >= rows) {
        Reject();
        break;
      }
      Row& target = cf ? state_.cf[pointer] : state_.ufm[pointer];
      ++pointer;  // the address counter moves on whether or not the row takes the data
      if (!IsBlank(target)) {
        Reject();
        break;
      }
      std::memcpy(target.data(), out + 4, kRowSize);
      StartBusy(config_.row_busy);
      break;
    }
    case opcode::kProgramUsercode:
      if (!ChangesAllowed()) {
        Reject();
        break;
      }
      std::memcpy(state_.usercode.data(), out + 4, 4);
      StartBusy(config_.usercode_busy);
      break;
    case opcode::kReadUsercode:
      std::memcpy(in, state_.usercode.data(), 4);
      if (faults_.corrupt_usercode) in[0] ^= 0x01;
      break;
    case opcode::kReadPage: {
      const bool cf = state_.area == Area::kCf;
      uint32_t& pointer = cf ? state_.cf_pointer : state_.ufm_pointer;
      const uint32_t rows = cf ? kCfRowCount : kUfmRowCount;
      if (!state_.transparent || config_.key_protection || pointer >= rows) {
        Reject();
        std::memset(in, 0xFF, kRowSize);
        break;
      }
      const Row& source = cf ? state_.cf[pointer] : state_.ufm[pointer];
      std::memcpy(in, source.data(), kRowSize);
      if (Contains(cf ? faults_.corrupt_cf_rows : faults_.corrupt_ufm_rows, pointer)) {
        in[0] ^= 0x01;
      }
      ++pointer;
      break;
    }
    case opcode::kBypass:
      break;
    case opcode::kProgramDone:
      if (!ChangesAllowed()) {
        Reject();
        break;
      }
      state_.done_fuse = true;
      state_.done = !faults_.done_never_asserts;
      StartBusy(config_.done_busy);
      break;
    case opcode::kDisableInterface:
      state_.transparent = false;
      break;
    case opcode::kRefresh: {
      ++state_.refresh_attempts;
      const uint64_t attempt = executed_by_opcode_[opcode::kRefresh];  // in this run
      const bool loads = faults_.refresh_succeeds_from != 0 &&
                         attempt >= faults_.refresh_succeeds_from;
      state_.transparent = false;
      state_.area = Area::kCf;
      state_.cf_pointer = 0;
      state_.ufm_pointer = 0;
      state_.fail = false;
      state_.refresh_error = !loads;
      state_.done = loads && state_.done_fuse && !faults_.done_never_asserts;
      StartBusy(config_.refresh_busy);
      break;
    }
  }

  // An injected busy period replaces whatever the command started.
  for (const BusyFault& fault : faults_.busy) {
    if (fault.opcode == op && executed_by_opcode_[op] == fault.occurrence) HoldBusy(fault.polls);
  }
  return transferred;
}

}  // namespace sim
