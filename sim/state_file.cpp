// State files: the device's flash and registers as text, so that one run of a program can leave
// the device to the next. Only rows that are not blank are listed; "end" closes a complete file.
//
//   fusekit-sim state 1
//   usercode 78 56 34 12
//   done_fuse 1
//   ...
//   cf 17 00112233445566778899AABBCCDDEEFF
//   end
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "number_text.h"
#include "sim_device.h"

namespace sim {
namespace {

constexpr char kHeader[] = "fusekit-sim state 1";

bool IsBlank(const Row& row) {
  return std::all_of(row.begin(), row.end(), [](uint8_t byte) { return byte == 0; });
}

void AppendRow(std::string* text, const char* area, int index, const Row& row) {
  char line[64];
  int length = std::snprintf(line, sizeof(line), "%s %d ", area, index);
  for (uint8_t byte : row) length += std::snprintf(line + length, sizeof(line) - length, "%02X", byte);
  text->append(line, static_cast<size_t>(length));
  text->push_back('\n');
}

std::string Render(const State& state) {
  std::string text = std::string(kHeader) + "\n";
  char line[256];
  std::snprintf(line, sizeof(line), "usercode %02X %02X %02X %02X\n", state.usercode[0],
                state.usercode[1], state.usercode[2], state.usercode[3]);
  text += line;
  std::snprintf(line, sizeof(line),
                "done_fuse %d\ndone %d\ntransparent %d\narea %s\ncf_pointer %u\n"
                "ufm_pointer %u\nfail %d\nrefresh_error %d\nrefresh_attempts %llu\n",
                state.done_fuse, state.done, state.transparent,
                state.area == Area::kCf ? "cf" : "ufm", state.cf_pointer, state.ufm_pointer,
                state.fail, state.refresh_error,
                static_cast<unsigned long long>(state.refresh_attempts));
  text += line;
  for (int r = 0; r < kCfRowCount; ++r) {
    if (!IsBlank(state.cf[r])) AppendRow(&text, "cf", r, state.cf[r]);
  }
  for (int r = 0; r < kUfmRowCount; ++r) {
    if (!IsBlank(state.ufm[r])) AppendRow(&text, "ufm", r, state.ufm[r]);
  }
  text += "end\n";
  return text;
}

bool ParseHexBytes(const std::string& text, uint8_t* bytes, size_t count) {
  if (text.size() != 2 * count) return false;
  for (size_t i = 0; i < count; ++i) {
    int64_t value;
    if (!ParseInteger("0x" + text.substr(2 * i, 2), 0, 0xFF, &value)) return false;
    bytes[i] = static_cast<uint8_t>(value);
  }
  return true;
}

bool ParseFlag(const std::string& text, bool* flag) {
  if (text != "0" && text != "1") return false;
  *flag = text == "1";
  return true;
}

// Parses one line into `state`; false when it does not belong in a state file.
bool ParseLine(const std::string& line, State* state) {
  std::istringstream words(line);
  std::string key;
  words >> key;
  std::vector<std::string> values;
  for (std::string word; words >> word;) values.push_back(word);
  int64_t number;
  if (key == "usercode") {
    if (values.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
      if (!ParseHexBytes(values[i], &state->usercode[i], 1)) return false;
    }
    return true;
  }
  if (key == "cf" || key == "ufm") {
    const bool cf = key == "cf";
    if (values.size() != 2 ||
        !ParseInteger(values[0], 0, (cf ? kCfRowCount : kUfmRowCount) - 1, &number)) {
      return false;
    }
    Row& row = cf ? state->cf[number] : state->ufm[number];
    return ParseHexBytes(values[1], row.data(), kRowSize);
  }
  if (values.size() != 1) return false;
  const std::string& value = values[0];
  if (key == "done_fuse") return ParseFlag(value, &state->done_fuse);
  if (key == "done") return ParseFlag(value, &state->done);
  if (key == "transparent") return ParseFlag(value, &state->transparent);
  if (key == "fail") return ParseFlag(value, &state->fail);
  if (key == "refresh_error") return ParseFlag(value, &state->refresh_error);
  if (key == "area") {
    if (value != "cf" && value != "ufm") return false;
    state->area = value == "cf" ? Area::kCf : Area::kUfm;
    return true;
  }
  if (key == "cf_pointer" || key == "ufm_pointer") {
    const bool cf = key == "cf_pointer";
    if (!ParseInteger(value, 0, cf ? kCfRowCount : kUfmRowCount, &number)) return false;
    (cf ? state->cf_pointer : state->ufm_pointer) = static_cast<uint32_t>(number);
    return true;
  }
  if (key == "refresh_attempts") {
    if (!ParseInteger(value, 0, INT64_MAX, &number)) return false;
    state->refresh_attempts = static_cast<uint64_t>(number);
    return true;
  }
  return false;
}

std::string Describe(const std::string& path, const char* what) {
  return "state file " + path + ": " + what;
}

}  // namespace

bool SaveState(const State& state, const std::string& path, std::string* error) {
  const std::string text = Render(state);
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    *error = Describe(path, "cannot create a new file next to it: ") + std::strerror(errno);
    return false;
  }
  size_t written = 0;
  bool ok = true;
  while (ok && written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) written += static_cast<size_t>(n);
  }
  const int saved_errno = errno;
  ok = ok && fchmod(fd, 0644) == 0;
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  *error = Describe(path, "cannot write it: ") + std::strerror(ok ? errno : saved_errno);
  unlink(temporary.c_str());
  return false;
}

bool LoadState(const std::string& path, State* state, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = Describe(path, "cannot open it: ") + std::strerror(errno);
    return false;
  }
  std::string line;
  if (!std::getline(file, line) || line != kHeader) {
    *error = Describe(path, "not a state file (first line is not \"fusekit-sim state 1\")");
    return false;
  }
  State loaded;
  int number = 1;
  bool complete = false;
  while (std::getline(file, line)) {
    ++number;
    if (complete) {
      *error = Describe(path, ("text after \"end\" on line " + std::to_string(number)).c_str());
      return false;
    }
    if (line == "end") {
      complete = true;
      continue;
    }
    if (!ParseLine(line, &loaded)) {
      *error = Describe(path, ("malformed line " + std::to_string(number) + ": \"" + line + "\"")
                                  .c_str());
      return false;
    }
  }
  if (file.bad()) {
    *error = Describe(path, "read error");
    return false;
  }
  if (!complete) {
    *error = Describe(path, "truncated (no \"end\" line)");
    return false;
  }
  *state = loaded;
  return true;
}

}  // namespace sim
