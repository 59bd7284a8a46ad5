// fusekit-sim: creates and inspects the simulated device's state files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "number_text.h"
#include "sim_device.h"

namespace {

constexpr size_t kImageRowBytes = static_cast<size_t>(sim::kRowCount) * sim::kRowSize;

// Exit statuses.
constexpr int kMatch = 0;
constexpr int kMismatch = 1;
constexpr int kError = 2;

const char kUsage[] =
    "usage: fusekit-sim COMMAND STATE [ARGUMENTS]\n"
    "  init STATE [IMAGE]        create a state file: a blank device, or one that holds IMAGE\n"
    "                            with DONE programmed, as after a good update\n"
    "  dump STATE                registers and a summary of the flash\n"
    "  hash STATE [--rows]       CRC-32 of CF, UFM and USERCODE; --rows: of every non-blank row\n"
    "  rows STATE FIRST [COUNT]  rows in hex, numbered 0..3837 (CF, then UFM from 3198)\n"
    "  compare STATE IMAGE       exit 0 when the device holds IMAGE and DONE is programmed,\n"
    "                            1 when it does not, 2 on error\n"
    "  compare-rows STATE ROW=HEX...  exit 0 when each row holds its 32 hex digits, else 1\n"
    "  export STATE IMAGE        write the device's rows and USERCODE as a raw image\n"
    "IMAGE is a raw image: 3838 rows of 16 bytes (61408 bytes: CF rows 0..3197, then UFM rows\n"
    "0..639), optionally followed by the 4 USERCODE bytes least significant first (61412 bytes).\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "fusekit-sim: %s\n", message.c_str());
  return kError;
}

bool ReadImage(const std::string& path, std::vector<uint8_t>* image, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot open image " + path + ": " + std::strerror(errno);
    return false;
  }
  image->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (image->size() != kImageRowBytes && image->size() != kImageRowBytes + 4) {
    *error = "image " + path + " has " + std::to_string(image->size()) + " bytes; expected " +
             std::to_string(kImageRowBytes) + " or " + std::to_string(kImageRowBytes + 4);
    return false;
  }
  return true;
}

const sim::Row& RowOf(const sim::State& state, int r) {
  return r < sim::kCfRowCount ? state.cf[r] : state.ufm[r - sim::kCfRowCount];
}

sim::Row& RowOf(sim::State& state, int r) {
  return r < sim::kCfRowCount ? state.cf[r] : state.ufm[r - sim::kCfRowCount];
}

std::string Hex(const uint8_t* bytes, size_t count) {
  std::string text;
  char digits[3];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof(digits), "%02X", bytes[i]);
    text += digits;
  }
  return text;
}

bool IsBlank(const sim::Row& row) {
  for (uint8_t byte : row) {
    if (byte != 0) return false;
  }
  return true;
}

int Init(const std::string& state_path, const std::vector<std::string>& arguments) {
  if (arguments.size() > 1) return Fail("init takes at most one image");
  static sim::State state;
  if (arguments.size() == 1) {
    std::vector<uint8_t> image;
    std::string error;
    if (!ReadImage(arguments[0], &image, &error)) return Fail(error);
    for (int r = 0; r < sim::kRowCount; ++r) {
      std::memcpy(RowOf(state, r).data(), &image[r * sim::kRowSize],
                  sim::kRowSize);
    }
    if (image.size() > kImageRowBytes) {
      std::memcpy(state.usercode.data(), &image[kImageRowBytes], 4);
    }
    state.done_fuse = true;
    state.done = true;
  }
  std::string error;
  if (!sim::SaveState(state, state_path, &error)) return Fail(error);
  return kMatch;
}

int Dump(const sim::State& state) {
  int cf_used = 0, ufm_used = 0;
  for (const sim::Row& row : state.cf) cf_used += IsBlank(row) ? 0 : 1;
  for (const sim::Row& row : state.ufm) ufm_used += IsBlank(row) ? 0 : 1;
  std::printf("usercode bytes     %s (as a value 0x%08X)\n", Hex(state.usercode.data(), 4).c_str(),
              static_cast<unsigned>(state.usercode[0] | state.usercode[1] << 8 |
                                    state.usercode[2] << 16 |
                                    static_cast<unsigned>(state.usercode[3]) << 24));
  std::printf("done fuse          %d\n", state.done_fuse);
  std::printf("done flag          %d\n", state.done);
  std::printf("transparent mode   %d\n", state.transparent);
  std::printf("fail flag          %d\n", state.fail);
  std::printf("refresh error      %d\n", state.refresh_error);
  std::printf("refresh attempts   %llu\n", static_cast<unsigned long long>(state.refresh_attempts));
  std::printf("row area           %s\n", state.area == sim::Area::kCf ? "CF" : "UFM");
  std::printf("CF pointer         %u\n", state.cf_pointer);
  std::printf("UFM pointer        %u\n", state.ufm_pointer);
  std::printf("CF rows in use     %d of %d\n", cf_used, sim::kCfRowCount);
  std::printf("UFM rows in use    %d of %d\n", ufm_used, sim::kUfmRowCount);
  return kMatch;
}

int Hash(const sim::State& state, const std::vector<std::string>& arguments) {
  const bool rows = arguments.size() == 1 && arguments[0] == "--rows";
  if (!arguments.empty() && !rows) return Fail("hash takes only --rows");
  std::printf("cf       %08X\n", sim::Crc32(state.cf[0].data(), sizeof(state.cf)));
  std::printf("ufm      %08X\n", sim::Crc32(state.ufm[0].data(), sizeof(state.ufm)));
  std::printf("usercode %08X\n", sim::Crc32(state.usercode.data(), 4));
  if (rows) {
    for (int r = 0; r < sim::kRowCount; ++r) {
      const sim::Row& row = RowOf(state, r);
      if (!IsBlank(row)) std::printf("row %4d %08X\n", r, sim::Crc32(row.data(), row.size()));
    }
  }
  return kMatch;
}

int Rows(const sim::State& state, const std::vector<std::string>& arguments) {
  int64_t first, count = 1;
  if (arguments.empty() || arguments.size() > 2 ||
      !sim::ParseInteger(arguments[0], 0, sim::kRowCount - 1, &first) ||
      (arguments.size() == 2 &&
       !sim::ParseInteger(arguments[1], 1, sim::kRowCount - first, &count))) {
    return Fail("rows takes FIRST (0 to 3837) and an optional COUNT that stays within the rows");
  }
  for (int64_t r = first; r < first + count; ++r) {
    const int row = static_cast<int>(r);
    std::printf("%4d %s %s\n", row, row < sim::kCfRowCount ? "cf " : "ufm",
                Hex(RowOf(state, row).data(), sim::kRowSize).c_str());
  }
  return kMatch;
}

int Compare(const sim::State& state, const std::vector<std::string>& arguments) {
  if (arguments.size() != 1) return Fail("compare takes one image");
  std::vector<uint8_t> image;
  std::string error;
  if (!ReadImage(arguments[0], &image, &error)) return Fail(error);
  const sim::Comparison result = sim::Compare(
      state, image.data(), image.size() > kImageRowBytes ? &image[kImageRowBytes] : nullptr);
  if (result.Matches()) {
    std::printf("match\n");
    return kMatch;
  }
  std::printf("mismatch:");
  if (result.mismatched_rows > 0) {
    std::printf(" %d rows differ (first CF row %d, first UFM row %d);", result.mismatched_rows,
                result.first_cf_mismatch, result.first_ufm_mismatch);
  }
  if (!result.usercode_matches) std::printf(" USERCODE differs;");
  if (!result.done) std::printf(" DONE not programmed;");
  std::printf("\n");
  return kMismatch;
}

int CompareRows(const sim::State& state, const std::vector<std::string>& arguments) {
  if (arguments.empty()) return Fail("compare-rows takes ROW=HEX arguments");
  int status = kMatch;
  for (const std::string& argument : arguments) {
    const size_t equals = argument.find('=');
    int64_t r;
    if (equals == std::string::npos ||
        !sim::ParseInteger(argument.substr(0, equals), 0, sim::kRowCount - 1, &r) ||
        argument.size() - equals - 1 != 2 * sim::kRowSize) {
      return Fail("malformed row \"" + argument + "\" (expected ROW=32 hex digits)");
    }
    sim::Row expected{};
    for (int i = 0; i < sim::kRowSize; ++i) {
      int64_t byte;
      if (!sim::ParseInteger("0x" + argument.substr(equals + 1 + 2 * i, 2), 0, 0xFF, &byte)) {
        return Fail("malformed row \"" + argument + "\" (expected ROW=32 hex digits)");
      }
      expected[i] = static_cast<uint8_t>(byte);
    }
    const sim::Row& actual = RowOf(state, static_cast<int>(r));
    if (actual != expected) {
      std::printf("row %d differs: device holds %s\n", static_cast<int>(r),
                  Hex(actual.data(), sim::kRowSize).c_str());
      status = kMismatch;
    }
  }
  if (status == kMatch) std::printf("match\n");
  return status;
}

int Export(const sim::State& state, const std::vector<std::string>& arguments) {
  if (arguments.size() != 1) return Fail("export takes one image path");
  std::ofstream file(arguments[0], std::ios::binary | std::ios::trunc);
  for (int r = 0; r < sim::kRowCount; ++r) {
    file.write(reinterpret_cast<const char*>(RowOf(state, r).data()), sim::kRowSize);
  }
  file.write(reinterpret_cast<const char*>(state.usercode.data()), 4);
  file.close();
  if (!file) return Fail("cannot write " + arguments[0]);
  return kMatch;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(kUsage, argc == 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
    return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? kMatch : kError;
  }
  const std::string command = argv[1];
  const std::string state_path = argv[2];
  const std::vector<std::string> arguments(argv + 3, argv + argc);
  if (command == "init") return Init(state_path, arguments);

  static sim::State state;
  std::string error;
  if (command != "dump" && command != "hash" && command != "rows" && command != "compare" &&
      command != "compare-rows" && command != "export") {
    std::fputs(kUsage, stderr);
    return kError;
  }
  if (!sim::LoadState(state_path, &state, &error)) return Fail(error);
  if (command == "dump") return arguments.empty() ? Dump(state) : Fail("dump takes no arguments");
  if (command == "hash") return Hash(state, arguments);
  if (command == "rows") return Rows(state, arguments);
  if (command == "compare") return Compare(state, arguments);
  if (command == "compare-rows") return CompareRows(state, arguments);
  return Export(state, arguments);
}
