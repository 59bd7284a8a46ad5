#include "fake_i2c.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "board_i2c.h"

namespace fake_i2c {
namespace {

std::vector<Transfer> log;
std::deque<Reply> replies;

int Answer(Call call, const char* device, uint8_t address, const uint8_t* written,
           int write_length, uint8_t* read_buffer, int read_length) {
  Transfer transfer{call, device, address, {}, read_length};
  if (written != nullptr && write_length > 0) transfer.written.assign(written, written + write_length);
  log.push_back(transfer);
  if (replies.empty()) return 0;
  const Reply reply = replies.front();
  replies.pop_front();
  if (read_buffer != nullptr && read_length > 0 && !reply.bytes.empty()) {
    std::memcpy(read_buffer, reply.bytes.data(),
                std::min<size_t>(reply.bytes.size(), static_cast<size_t>(read_length)));
  }
  return reply.result;
}

}  // namespace

void Reset() {
  log.clear();
  replies.clear();
}

void Queue(Reply reply) { replies.push_back(std::move(reply)); }

const std::vector<Transfer>& Log() { return log; }

}  // namespace fake_i2c

extern "C" {

int i2c_master_write(const char* device, uint8_t address, const uint8_t* data, int length) {
  return fake_i2c::Answer(fake_i2c::Call::kWrite, device, address, data, length, nullptr, 0);
}

int i2c_master_read(const char* device, uint8_t address, uint8_t* data, int length) {
  return fake_i2c::Answer(fake_i2c::Call::kRead, device, address, nullptr, 0, data, length);
}

int i2c_writeread(const char* device, uint8_t address, const uint8_t* write_data,
                  uint8_t* read_data, int write_length, int read_length) {
  return fake_i2c::Answer(fake_i2c::Call::kWriteRead, device, address, write_data, write_length,
                          read_data, read_length);
}

}
