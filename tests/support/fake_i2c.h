// A scripted fake of the platform's three I2C calls: it logs every transfer, answers from a
// queue of canned replies and can fail any call with a given code.
#ifndef FUSEKIT_TEST_FAKE_I2C_H
#define FUSEKIT_TEST_FAKE_I2C_H

#include <cstdint>
#include <string>
#include <vector>

namespace fake_i2c {

enum class Call { kWrite, kRead, kWriteRead };

struct Transfer {
  Call call;
  std::string device;
  uint8_t address;
  std::vector<uint8_t> written;  // the bytes handed over for writing
  int read_length;
};

struct Reply {
  int result = 0;              // returned by the call; negative fails it
  std::vector<uint8_t> bytes;  // copied into the read buffer (even when the call fails)
};

void Reset();
// The next calls answer with these replies, in order; once the queue is empty a call returns
// 0 and leaves the read buffer alone.
void Queue(Reply reply);
const std::vector<Transfer>& Log();

}  // namespace fake_i2c

#endif
