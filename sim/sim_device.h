// The simulated CPLD: a behavioural model of the device as it answers its I2C command protocol,
// for the tests and the demo, where no board is at hand.
//
// Two ways in:
//  - C++ (tests): build a `sim::Device`, `sim::Attach` it, and link `fusekit_sim`, which defines
//    the platform's `i2c_master_write`, `i2c_master_read` and `i2c_writeread` and routes every
//    call to the attached device (with none attached every call fails with -ENXIO).
//  - Drop-in (programs): `libboardi2c.so.1` from build/sim/dropin, configured by FUSEKIT_SIM_*
//    environment variables (sim/README.md); it is built from the same model.
//
// The model in short:
//  - Commands are checked byte for byte: opcode, operand bytes, length and transfer kind
//    (answering commands through i2c_writeread with the exact answer length, the others through
//    i2c_master_write). Anything else is refused like a slave that does not acknowledge: the
//    call returns a negative errno value (kRefusedCode) and the device is unchanged.
//  - Answers: device ID, status register and FEABITS most significant byte first; USERCODE in
//    the order in which C2 received its bytes; rows as stored.
//  - Flash: erased bytes read 0x00. EraseCFAndUFM clears CF, UFM, USERCODE and the DONE fuse.
//    ProgramPage (70) writes the row at the pointer of the area last selected (46: CF, 47: UFM;
//    CF at power-on) and advances it; ReadOnePage (73) reads there and advances it.
//  - Operations that change the device need neither key protection nor OTP; programming (rows,
//    USERCODE, DONE) also needs transparent mode (74), and a row needs to be blank and inside its
//    area. A refused operation changes nothing (except that a row command at a row that is not
//    blank still advances the pointer, as an address counter does) and raises the fail flag, which
//    stays until the next 74, erase or refresh. The erase is taken outside transparent mode too.
//    Reading rows needs transparent mode and no key protection; a refused read answers FF bytes.
//  - A command that arrives while the device is busy is acknowledged but ignored, and raises the
//    fail flag (the busy byte, status reads, ID and FEABITS reads and Bypass are always answered).
//  - Refresh (79) leaves transparent mode, resets the pointers and clears busy and fail. It loads
//    a device whose DONE fuse is programmed (done flag set); on an erased device the done flag
//    stays clear. An injected refresh failure leaves the done flag clear and sets the refresh
//    error field.
#ifndef FUSEKIT_SIM_SIM_DEVICE_H
#define FUSEKIT_SIM_SIM_DEVICE_H

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

struct IspInfo;  // the firmware image record of fusekit.h

namespace sim {

// ---- Geometry and protocol constants ----------------------------------------------------------

constexpr int kRowSize = 16;
constexpr int kCfRowCount = 3198;
constexpr int kUfmRowCount = 640;
constexpr int kRowCount = kCfRowCount + kUfmRowCount;  // rows 0..3837; UFM row u is row 3198 + u
constexpr uint32_t kDefaultDeviceId = 0x012BB043;
constexpr uint8_t kDefaultSlaveAddress = 0x40;

using Row = std::array<uint8_t, kRowSize>;

// Command opcodes: the first byte of every command.
namespace opcode {
constexpr uint8_t kReadDeviceId = 0xE0;           // E0 00 00 00, answers 4 bytes
constexpr uint8_t kReadBusy = 0xF0;               // F0 00 00 00, answers 1 byte
constexpr uint8_t kReadStatus = 0x3C;             // 3C 00 00 00, answers 4 bytes
constexpr uint8_t kEnableTransparent = 0x74;      // 74 08 00
constexpr uint8_t kReadFeabits = 0xFB;            // FB 00 00 00, answers 2 bytes
constexpr uint8_t kErase = 0x0E;                  // 0E 0C 00 00
constexpr uint8_t kResetCfAddress = 0x46;         // 46 00 00 00
constexpr uint8_t kProgramPage = 0x70;            // 70 00 00 00 + 16 bytes
constexpr uint8_t kProgramUsercode = 0xC2;        // C2 00 00 00 + 4 bytes
constexpr uint8_t kRefresh = 0x79;                // 79 00 00
constexpr uint8_t kReadUsercode = 0xC0;           // C0 00 00 00, answers 4 bytes
constexpr uint8_t kReadPage = 0x73;               // 73 00 00 01, answers 16 bytes
constexpr uint8_t kBypass = 0xFF;                 // FF FF FF FF
constexpr uint8_t kResetUfmAddress = 0x47;        // 47 00 00 00
constexpr uint8_t kProgramDone = 0x5E;            // 5E 00 00 00
constexpr uint8_t kDisableInterface = 0x26;       // 26 00 00
}  // namespace opcode

// Status register bits, as masks of the host-order value.
namespace status {
constexpr uint32_t kKeyProtection = 0x00000020;
constexpr uint32_t kOtp = 0x00000040;
constexpr uint32_t kOtpHigh = 0x00020000;
constexpr uint32_t kDone = 0x00000100;
constexpr uint32_t kBusy = 0x00001000;
constexpr uint32_t kFail = 0x00002000;
constexpr uint32_t kRefreshErrorField = 0x03800000;
constexpr uint32_t kRefreshError = 0x00800000;  // what a failed refresh sets within the field
}  // namespace status

constexpr uint8_t kBusyByteFlag = 0x80;

// Result of a transfer the device does not acknowledge: unknown command, wrong operands, wrong
// length or wrong transfer kind.
constexpr int kRefusedCode = -EIO;
// Result of a transfer to another slave address (nobody acknowledges), or with no device attached.
constexpr int kNoDeviceCode = -ENXIO;
// Result of a transfer on another bus than the configured one.
constexpr int kNoBusCode = -ENOENT;
// Result of every transfer once the simulator has been misconfigured.
constexpr int kMisconfiguredCode = -EIO;

// Opcode value in a fault that means "any transfer" / "from power-on".
constexpr int kAnyOpcode = -1;
constexpr int kPowerOn = -1;
// A busy period that never ends.
constexpr uint32_t kForever = UINT32_MAX;

// ---- Configuration -----------------------------------------------------------------------------

// How long an operation keeps the device busy: the busy byte reads busy for `polls` reads, and
// also until `microseconds` have passed on the simulator's clock; both zero: ready at once.
struct BusyTime {
  uint32_t polls = 0;
  uint64_t microseconds = 0;
};

// Device properties and the behaviour of this run.
struct Config {
  uint32_t device_id = kDefaultDeviceId;
  uint16_t feabits = 0x0000;
  bool key_protection = false;  // status bit 0x20; erase and programming are refused
  bool otp = false;             // status bits 0x40 and 0x20000; erase and programming refused

  // Where the device answers. An empty path accepts any bus; a negative address any address.
  std::string device_path;          // e.g. "/dev/i2c5"
  int slave_address = kDefaultSlaveAddress;

  // Busy periods of the operations (default: ready at once).
  BusyTime erase_busy;
  BusyTime row_busy;        // each ProgramPage
  BusyTime usercode_busy;   // ProgramUSERCODE
  BusyTime done_busy;       // ProgramDONE
  BusyTime transparent_busy;  // entering transparent mode
  BusyTime refresh_busy;

  // Timing model: with bus_hz set (e.g. 100000 or 400000) every transfer also advances the
  // simulator's clock by the time it would take on a real bus (9 bits a byte plus start, address
  // and stop). Together with the busy microseconds above it estimates a run on a real board.
  uint32_t bus_hz = 0;

  // Keep a transcript of every transfer (off by default; a complete update is ~20k transfers).
  bool record_transcript = false;

  // Clock in microseconds. Null: `virtual_clock_now_us` when the process has it (tests, or the
  // virtual clock preloaded), else CLOCK_MONOTONIC.
  uint64_t (*clock)() = nullptr;
};

// Fail a transfer: the `occurrence`-th transfer matching `opcode` (its first byte written; any
// transfer with kAnyOpcode), counted from 1 over all transfers including refused ones, and the
// `count - 1` matching ones after it (count 0: every one from there on), return `code` without
// reaching the device.
struct TransferFault {
  int opcode = kAnyOpcode;
  uint64_t occurrence = 1;
  uint64_t count = 1;
  int code = -EIO;
};

// Busy override: once the `occurrence`-th command `opcode` has been executed (kPowerOn: from the
// first transfer), the device reads busy for `polls` busy-byte reads (kForever: never ready again),
// in place of the configured busy time of that command.
struct BusyFault {
  int opcode = kPowerOn;
  uint64_t occurrence = 1;
  uint32_t polls = kForever;
};

// Status override: from the execution of the `occurrence`-th command `opcode` (kPowerOn: from the
// start) every status read has `bits` set in addition (e.g. status::kFail or status::kBusy).
struct StatusFault {
  uint32_t bits = 0;
  int opcode = kPowerOn;
  uint64_t occurrence = 1;
};

struct Faults {
  std::vector<TransferFault> transfers;
  std::vector<BusyFault> busy;
  std::vector<StatusFault> status;
  // Read-back corruption: the answer (not the flash) has bit 0 of its first byte flipped.
  std::vector<int> corrupt_cf_rows;   // CF rows 0..3197
  std::vector<int> corrupt_ufm_rows;  // UFM rows 0..639
  bool corrupt_usercode = false;
  // Refresh attempts (79 commands executed by this Device object, i.e. in this run) before this
  // one fail; 1: the first succeeds; 0: none ever does.
  uint32_t refresh_succeeds_from = 1;
  // ProgramDONE is executed but the done flag never asserts.
  bool done_never_asserts = false;
};

// Parses a fault list "name[=value],name[=value],..." into `faults` (added to what is there).
// Names and values are listed in sim/README.md, e.g. "fail-transfer=12:-121",
// "fail-opcode=0x70:5", "busy=0x70:3:forever", "status=0x2000:0x0E", "corrupt-cf=17",
// "refresh-from=3", "refresh-never", "done-never". Returns false with a message in `error` on an
// unknown name or malformed number; `faults` is then unchanged.
bool ParseFaults(const std::string& text, Faults* faults, std::string* error);

// ---- Device state ------------------------------------------------------------------------------

enum class Area : uint8_t { kCf, kUfm };

// What the device holds: its flash and registers. This is what a state file keeps.
struct State {
  std::array<Row, kCfRowCount> cf{};
  std::array<Row, kUfmRowCount> ufm{};
  std::array<uint8_t, 4> usercode{};  // as received after C2, i.e. least significant byte first
  bool done_fuse = false;             // ProgramDONE executed since the last erase
  bool transparent = false;           // configuration interface enabled
  Area area = Area::kCf;              // area the row commands work on
  uint32_t cf_pointer = 0;            // next CF row for 70/73
  uint32_t ufm_pointer = 0;           // next UFM row for 70/73
  bool fail = false;                  // fail flag
  bool refresh_error = false;         // last refresh failed
  bool done = false;                  // done flag (after ProgramDONE or a good refresh)
  uint64_t refresh_attempts = 0;      // 79 commands executed over all runs (information only)
};

// Writes `state` to `path` as text (a new file renamed over the old one, so a reader never sees a
// half-written file). Returns false with a message in `error`; the old file is then untouched.
bool SaveState(const State& state, const std::string& path, std::string* error);
// Reads a state file. Returns false with a message in `error` when it cannot be read or parsed;
// `state` is then unchanged.
bool LoadState(const std::string& path, State* state, std::string* error);

// ---- Observation -------------------------------------------------------------------------------

enum class TransferKind : uint8_t { kWrite, kRead, kWriteRead };

struct TranscriptEntry {
  uint64_t number = 0;   // 1 for the first transfer
  uint64_t time_us = 0;  // simulator clock when the transfer started
  TransferKind kind = TransferKind::kWrite;
  int result = 0;        // what the platform call returned
  int out_length = 0;    // bytes written, as asked by the caller
  int in_length = 0;     // bytes read, as asked by the caller
  std::array<uint8_t, 24> out{};  // the first bytes written (up to 24)
  std::array<uint8_t, 16> in{};   // the first bytes read back (up to 16)

  std::vector<uint8_t> Out() const;
  std::vector<uint8_t> In() const;
};

// One line for people: "#12 t=1200us writeread E0 00 00 00 -> 01 2B B0 43 = 8".
std::string Describe(const TranscriptEntry& entry);

struct Counters {
  uint64_t transfers = 0;           // every platform call
  uint64_t executed = 0;            // commands the device took
  uint64_t refused = 0;             // not acknowledged (unknown command, length, kind, address)
  uint64_t injected_failures = 0;   // failed by a TransferFault
  uint64_t ignored_while_busy = 0;  // acknowledged but dropped because the device was busy
  uint64_t rejected_operations = 0; // executed but refused by the device (fail flag raised)
  uint64_t busy_answers = 0;        // busy-byte reads that answered busy
  std::array<uint64_t, 256> by_opcode{};  // transfers by first byte written (refused ones too)

  uint64_t Opcode(uint8_t op) const { return by_opcode[op]; }
};

// ---- The device --------------------------------------------------------------------------------

class Device {
 public:
  explicit Device(Config config = Config(), Faults faults = Faults());

  // The three platform calls as the device sees them. Each is one transaction and returns the
  // number of bytes transferred, or a negative errno value.
  int Write(const char* device_path, uint8_t address, const uint8_t* data, int length);
  int Read(const char* device_path, uint8_t address, uint8_t* data, int length);
  int WriteRead(const char* device_path, uint8_t address, const uint8_t* write_data,
                uint8_t* read_data, int write_length, int read_length);

  // Configuration and faults may be changed between transfers.
  Config& config() { return config_; }
  const Config& config() const { return config_; }
  Faults& faults() { return faults_; }
  const Faults& faults() const { return faults_; }

  // Flash and registers; may be read and changed between transfers.
  State& state() { return state_; }
  const State& state() const { return state_; }
  // Row r of the common numbering 0..3837 (CF rows, then UFM rows).
  Row& row(int r);
  const Row& row(int r) const;

  // The status register as a status read would answer it now (host order), without counting.
  uint32_t StatusRegister() const;
  // Whether the busy byte would read busy now.
  bool Busy() const;

  const Counters& counters() const { return counters_; }
  const std::vector<TranscriptEntry>& transcript() const { return transcript_; }
  void ClearTranscript() { transcript_.clear(); }

  // Simulator clock: the clock of Config plus the modeled bus time of all transfers so far.
  uint64_t NowUs() const;
  // Modeled bus time of all transfers so far (0 without Config::bus_hz).
  uint64_t BusTimeUs() const { return bus_time_ns_ / 1000u; }
  // Simulator time from the first transfer to the end of the last one.
  uint64_t ElapsedUs() const;

  // Puts the device out of order: reports `message` once on standard error (prefixed
  // "fusekit-sim: "), and from then on every transfer fails with kMisconfiguredCode.
  void Misconfigure(const std::string& message);
  bool misconfigured() const { return misconfigured_; }

  // Saves or loads the state (see SaveState / LoadState).
  bool Save(const std::string& path, std::string* error) const;
  bool Load(const std::string& path, std::string* error);

 private:
  int Transfer(TransferKind kind, const char* device_path, uint8_t address,
               const uint8_t* write_data, int write_length, uint8_t* read_data, int read_length);
  int Execute(TransferKind kind, const uint8_t* out, int out_length, uint8_t* in, int in_length);
  void ApplyPowerOnFaults();
  bool InjectedFailure(bool has_opcode, uint8_t op, uint64_t number, int* code) const;
  void HoldBusy(uint32_t polls);
  void StartBusy(const BusyTime& busy);
  bool ChangesAllowed() const;
  void Reject();

  Config config_;
  Faults faults_;
  State state_;
  Counters counters_;
  std::vector<TranscriptEntry> transcript_;
  std::array<uint64_t, 256> executed_by_opcode_{};
  uint64_t busy_polls_left_ = 0;  // UINT64_MAX: busy for ever
  uint64_t busy_until_us_ = 0;    // 0: no time-based busy period
  uint64_t bus_time_ns_ = 0;
  uint64_t first_transfer_us_ = 0;
  uint64_t last_transfer_end_us_ = 0;
  bool misconfigured_ = false;
};

// Counters, bus time and elapsed time as a few lines of text (what the drop-in reports at exit).
std::string Summary(const Device& device);

// The device that the platform calls of `fusekit_sim` talk to; null detaches. Not owned.
void Attach(Device* device);
Device* Attached();

// ---- Images ------------------------------------------------------------------------------------

// What a device holds compared with an image.
struct Comparison {
  int first_cf_mismatch = -1;   // CF row, or -1
  int first_ufm_mismatch = -1;  // UFM row, or -1
  int mismatched_rows = 0;      // over both areas
  bool usercode_matches = false;
  bool done = false;            // DONE fuse programmed
  bool Matches() const {
    return first_cf_mismatch < 0 && first_ufm_mismatch < 0 && usercode_matches && done;
  }
};

// Compares the flash, USERCODE and DONE fuse with an image record (rows 0..3197 of cf_rows,
// 0..639 of ufm_rows, usercode as a host-order value).
Comparison Compare(const State& state, const IspInfo& image);

// The same against a raw image: `rows` holds 3838 rows of 16 bytes (CF then UFM); `usercode`
// the 4 USERCODE bytes least significant first, or null to leave USERCODE out of the comparison
// (usercode_matches is then true).
Comparison Compare(const State& state, const uint8_t* rows, const uint8_t* usercode);

// CRC-32 (IEEE) of a byte range, for row hashes.
uint32_t Crc32(const uint8_t* data, size_t length);

// ---- Configuration from the environment ---------------------------------------------------------

// What the environment asks of the drop-in library besides the device's own settings.
struct EnvironmentSettings {
  std::string state_path;       // FUSEKIT_SIM_STATE: state file, loaded at start, saved as it changes
  std::string transcript_path;  // FUSEKIT_SIM_TRANSCRIPT: transcript written at exit ("-": stderr)
  std::string report_path;      // FUSEKIT_SIM_REPORT: counters and timing at exit ("-": stderr)
};

// Applies FUSEKIT_SIM_* settings from `environment` (a null-terminated "NAME=VALUE" array such as
// environ) to the device: properties, busy times, faults, timing, transcript, and the state file,
// which is loaded if it exists. On an unknown FUSEKIT_SIM_ variable, an unknown fault name, a
// malformed number or an unreadable state file it calls Misconfigure (one message on standard
// error, every later transfer fails) and returns false.
bool ConfigureFromEnvironment(Device* device, const char* const* environment,
                              EnvironmentSettings* settings);

}  // namespace sim

#endif
