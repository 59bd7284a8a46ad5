// The text form of injected faults: "name[=value],name[=value],...".
#include "number_text.h"
#include "sim_device.h"

namespace sim {
namespace {

// Reads one fault's value fields; each failure leaves a message in `error`.
class Fields {
 public:
  Fields(const std::string& item, const std::string& value, std::string* error)
      : item_(item), parts_(value.empty() ? std::vector<std::string>() : Split(value, ':')),
        error_(error) {}

  size_t size() const { return parts_.size(); }

  bool Count(size_t minimum, size_t maximum) {
    if (parts_.size() >= minimum && parts_.size() <= maximum) return true;
    *error_ = "fault \"" + item_ + "\" takes " +
              (minimum == maximum ? std::to_string(minimum)
                                  : std::to_string(minimum) + " to " + std::to_string(maximum)) +
              " value(s)";
    return false;
  }

  bool Number(size_t index, int64_t minimum, int64_t maximum, int64_t* value) {
    if (ParseInteger(parts_[index], minimum, maximum, value)) return true;
    *error_ = "malformed number \"" + parts_[index] + "\" in fault \"" + item_ + "\" (expected " +
              std::to_string(minimum) + " to " + std::to_string(maximum) + ")";
    return false;
  }

  // A poll count, or "forever".
  bool Polls(size_t index, uint32_t* polls) {
    if (parts_[index] == "forever") {
      *polls = kForever;
      return true;
    }
    int64_t value;
    if (!Number(index, 0, kForever - 1, &value)) return false;
    *polls = static_cast<uint32_t>(value);
    return true;
  }

  // A repeat count for transfer failures, or "forever" (0).
  bool Repeat(size_t index, uint64_t* count) {
    if (parts_[index] == "forever") {
      *count = 0;
      return true;
    }
    int64_t value;
    if (!Number(index, 1, INT64_MAX, &value)) return false;
    *count = static_cast<uint64_t>(value);
    return true;
  }

 private:
  std::string item_;
  std::vector<std::string> parts_;
  std::string* error_;
};

constexpr int64_t kMaxCount = INT64_MAX;

bool ParseOne(const std::string& name, const std::string& value, const std::string& item,
              Faults* faults, std::string* error) {
  Fields fields(item, value, error);
  int64_t a, b, c;
  if (name == "fail-transfer") {  // N[:CODE[:COUNT]]
    if (!fields.Count(1, 3) || !fields.Number(0, 1, kMaxCount, &a)) return false;
    TransferFault fault;
    fault.occurrence = static_cast<uint64_t>(a);
    if (fields.size() > 1) {
      if (!fields.Number(1, INT32_MIN, -1, &b)) return false;
      fault.code = static_cast<int>(b);
    }
    if (fields.size() > 2 && !fields.Repeat(2, &fault.count)) return false;
    faults->transfers.push_back(fault);
    return true;
  }
  if (name == "fail-opcode") {  // OP:K[:CODE[:COUNT]]
    if (!fields.Count(2, 4) || !fields.Number(0, 0, 0xFF, &a) ||
        !fields.Number(1, 1, kMaxCount, &b)) {
      return false;
    }
    TransferFault fault;
    fault.opcode = static_cast<int>(a);
    fault.occurrence = static_cast<uint64_t>(b);
    if (fields.size() > 2) {
      if (!fields.Number(2, INT32_MIN, -1, &c)) return false;
      fault.code = static_cast<int>(c);
    }
    if (fields.size() > 3 && !fields.Repeat(3, &fault.count)) return false;
    faults->transfers.push_back(fault);
    return true;
  }
  if (name == "busy-at-start") {  // POLLS|forever
    BusyFault fault;
    if (!fields.Count(1, 1) || !fields.Polls(0, &fault.polls)) return false;
    faults->busy.push_back(fault);
    return true;
  }
  if (name == "busy-after") {  // OP:K:POLLS|forever
    BusyFault fault;
    if (!fields.Count(3, 3) || !fields.Number(0, 0, 0xFF, &a) ||
        !fields.Number(1, 1, kMaxCount, &b) || !fields.Polls(2, &fault.polls)) {
      return false;
    }
    fault.opcode = static_cast<int>(a);
    fault.occurrence = static_cast<uint64_t>(b);
    faults->busy.push_back(fault);
    return true;
  }
  if (name == "status" || name == "status-fail" || name == "status-busy") {  // [BITS:][OP:K]
    StatusFault fault;
    size_t next = 0;
    if (name == "status") {
      if (!fields.Count(1, 3) || !fields.Number(0, 1, UINT32_MAX, &a)) return false;
      fault.bits = static_cast<uint32_t>(a);
      next = 1;
    } else {
      if (!fields.Count(0, 2)) return false;
      fault.bits = name == "status-fail" ? status::kFail : status::kBusy;
    }
    if (fields.size() == next + 1) {
      *error = "fault \"" + item + "\" needs an opcode and an occurrence, or neither";
      return false;
    }
    if (fields.size() == next + 2) {
      if (!fields.Number(next, 0, 0xFF, &b) || !fields.Number(next + 1, 1, kMaxCount, &c)) {
        return false;
      }
      fault.opcode = static_cast<int>(b);
      fault.occurrence = static_cast<uint64_t>(c);
    }
    faults->status.push_back(fault);
    return true;
  }
  if (name == "corrupt-cf" || name == "corrupt-ufm") {  // ROW
    const bool cf = name == "corrupt-cf";
    if (!fields.Count(1, 1) || !fields.Number(0, 0, (cf ? kCfRowCount : kUfmRowCount) - 1, &a)) {
      return false;
    }
    (cf ? faults->corrupt_cf_rows : faults->corrupt_ufm_rows).push_back(static_cast<int>(a));
    return true;
  }
  if (name == "corrupt-usercode" || name == "refresh-never" || name == "done-never") {
    if (!fields.Count(0, 0)) return false;
    if (name == "corrupt-usercode") faults->corrupt_usercode = true;
    if (name == "refresh-never") faults->refresh_succeeds_from = 0;
    if (name == "done-never") faults->done_never_asserts = true;
    return true;
  }
  if (name == "refresh-from") {  // K
    if (!fields.Count(1, 1) || !fields.Number(0, 1, UINT32_MAX, &a)) return false;
    faults->refresh_succeeds_from = static_cast<uint32_t>(a);
    return true;
  }
  *error = "unknown fault name \"" + name + "\"";
  return false;
}

}  // namespace

bool ParseFaults(const std::string& text, Faults* faults, std::string* error) {
  Faults parsed = *faults;
  for (const std::string& raw : Split(text, ',')) {
    const std::string item = Trim(raw);
    if (item.empty()) continue;
    const size_t equals = item.find('=');
    const std::string name = Trim(item.substr(0, equals));
    const std::string value = equals == std::string::npos ? "" : Trim(item.substr(equals + 1));
    if (equals != std::string::npos && value.empty()) {
      *error = "fault \"" + item + "\" has an empty value";
      return false;
    }
    if (!ParseOne(name, value, item, &parsed, error)) return false;
  }
  *faults = std::move(parsed);
  return true;
}

}  // namespace sim
