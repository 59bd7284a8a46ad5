// Transcript entries: their bytes and a one-line description.
#include <algorithm>
#include <cstdio>

#include "sim_device.h"

namespace sim {
namespace {

template <size_t N>
std::vector<uint8_t> Stored(const std::array<uint8_t, N>& bytes, int length) {
  const size_t count = length > 0 ? std::min(static_cast<size_t>(length), N) : 0;
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + count);
}

void AppendHex(std::string* text, const std::vector<uint8_t>& bytes, int length) {
  char hex[4];
  for (uint8_t byte : bytes) {
    std::snprintf(hex, sizeof(hex), " %02X", byte);
    *text += hex;
  }
  if (length > static_cast<int>(bytes.size())) *text += " ...";
}

const char* KindName(TransferKind kind) {
  switch (kind) {
    case TransferKind::kWrite: return "write";
    case TransferKind::kRead: return "read";
    case TransferKind::kWriteRead: return "writeread";
  }
  return "?";
}

}  // namespace

std::vector<uint8_t> TranscriptEntry::Out() const { return Stored(out, out_length); }

std::vector<uint8_t> TranscriptEntry::In() const {
  return result < 0 ? std::vector<uint8_t>() : Stored(in, in_length);
}

std::string Describe(const TranscriptEntry& entry) {
  char head[96];
  std::snprintf(head, sizeof(head), "#%llu t=%lluus %s",
                static_cast<unsigned long long>(entry.number),
                static_cast<unsigned long long>(entry.time_us), KindName(entry.kind));
  std::string text = head;
  AppendHex(&text, entry.Out(), entry.out_length);
  if (entry.kind != TransferKind::kWrite) {
    text += " ->";
    if (entry.result >= 0) {
      AppendHex(&text, entry.In(), entry.in_length);
    } else {
      char wanted[32];
      std::snprintf(wanted, sizeof(wanted), " (%d bytes)", entry.in_length);
      text += wanted;
    }
  }
  char tail[32];
  std::snprintf(tail, sizeof(tail), " = %d", entry.result);
  return text + tail;
}

}  // namespace sim

namespace sim {

std::string Summary(const Device& device) {
  const Counters& counters = device.counters();
  char line[256];
  std::string text;
  std::snprintf(line, sizeof(line),
                "fusekit-sim: %llu transfers: %llu executed, %llu refused, %llu failed by "
                "injection, %llu ignored while busy, %llu rejected by the device, %llu busy "
                "answers\n",
                static_cast<unsigned long long>(counters.transfers),
                static_cast<unsigned long long>(counters.executed),
                static_cast<unsigned long long>(counters.refused),
                static_cast<unsigned long long>(counters.injected_failures),
                static_cast<unsigned long long>(counters.ignored_while_busy),
                static_cast<unsigned long long>(counters.rejected_operations),
                static_cast<unsigned long long>(counters.busy_answers));
  text += line;
  std::snprintf(line, sizeof(line),
                "fusekit-sim: elapsed %.3f s from the first to the last transfer, of which "
                "%.3f s bus time at %u Hz\n",
                static_cast<double>(device.ElapsedUs()) / 1e6,
                static_cast<double>(device.BusTimeUs()) / 1e6, device.config().bus_hz);
  text += line;
  text += "fusekit-sim: transfers by opcode:";
  for (int op = 0; op < 256; ++op) {
    if (counters.by_opcode[op] == 0) continue;
    std::snprintf(line, sizeof(line), " %02X=%llu", op,
                  static_cast<unsigned long long>(counters.by_opcode[op]));
    text += line;
  }
  return text + "\n";
}

}  // namespace sim
