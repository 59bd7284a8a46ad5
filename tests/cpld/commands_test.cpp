// The device commands: bytes on the wire, transfer routine, answers, byte order and failures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "fake_i2c.h"
#include "fusekit.h"
#include "output_capture.h"
#include "virtual_clock.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fake_i2c::Call;

class Commands : public testing::Test {
 protected:
  void SetUp() override {
    InitCPLDDevice(5, 0x40);
    fake_i2c::Reset();
    virtual_clock::Reset();
  }
};

struct CommandCase {
  const char* name;
  std::function<int()> send;
  Call call;
  Bytes written;
  int read_length;
};

const uint8_t kPage[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                           0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
uint32_t u32;
uint16_t u16;
uint8_t byte;
uint8_t page[16];

std::vector<CommandCase> AllCommands() {
  Bytes program_page = {0x70, 0x00, 0x00, 0x00};
  program_page.insert(program_page.end(), kPage, kPage + 16);
  return {
      {"GetDeviceID", [] { return GetDeviceID(&u32); }, Call::kWriteRead, {0xE0, 0, 0, 0}, 4},
      {"IsBusy", [] { return IsBusy(&byte); }, Call::kWriteRead, {0xF0, 0, 0, 0}, 1},
      {"ReadStatusRegister", [] { return ReadStatusRegister(&u32); }, Call::kWriteRead,
       {0x3C, 0, 0, 0}, 4},
      {"EnableTransparentMode", [] { return EnableConfigurationInterfaceTransparentMode(); },
       Call::kWrite, {0x74, 0x08, 0x00}, 0},
      {"ReadFEABITS", [] { return ReadFEABITS(&u16); }, Call::kWriteRead, {0xFB, 0, 0, 0}, 2},
      {"EraseCFAndUFM", [] { return EraseCFAndUFM(); }, Call::kWrite, {0x0E, 0x0C, 0, 0}, 0},
      {"ResetConfigurationFlashAddress", [] { return ResetConfigurationFlashAddress(); },
       Call::kWrite, {0x46, 0, 0, 0}, 0},
      {"ProgramPage", [] { return ProgramPage(kPage); }, Call::kWrite, program_page, 0},
      {"ProgramUSERCODE", [] { return ProgramUSERCODE(0x12345678); }, Call::kWrite,
       {0xC2, 0, 0, 0, 0x78, 0x56, 0x34, 0x12}, 0},
      {"Refresh", [] { return Refresh(); }, Call::kWrite, {0x79, 0, 0}, 0},
      {"ReadUSERCODE", [] { return ReadUSERCODE(&u32); }, Call::kWriteRead, {0xC0, 0, 0, 0}, 4},
      {"ReadOnePage", [] { return ReadOnePage(page); }, Call::kWriteRead, {0x73, 0, 0, 0x01}, 16},
      {"Bypass", [] { return Bypass(); }, Call::kWrite, {0xFF, 0xFF, 0xFF, 0xFF}, 0},
      {"ResetUFMAddress", [] { return ResetUFMAddress(); }, Call::kWrite, {0x47, 0, 0, 0}, 0},
      {"ProgramDONE", [] { return ProgramDONE(); }, Call::kWrite, {0x5E, 0, 0, 0}, 0},
      {"DisableConfigurationInterface", [] { return DisableConfigurationInterface(); },
       Call::kWrite, {0x26, 0, 0}, 0},
      {"IsFail", [] { return IsFail(&byte); }, Call::kWriteRead, {0x3C, 0, 0, 0}, 4},
      {"HasPasswordProtected", [] { return HasPasswordProtected(&byte); }, Call::kWriteRead,
       {0x3C, 0, 0, 0}, 4},
      {"IsEnableOTP", [] { return IsEnableOTP(&byte); }, Call::kWriteRead, {0x3C, 0, 0, 0}, 4},
      {"IsDone", [] { return IsDone(&byte); }, Call::kWriteRead, {0x3C, 0, 0, 0}, 4},
      {"IsRefreshSuccessful", [] { return IsRefreshSuccessful(&byte); }, Call::kWriteRead,
       {0x3C, 0, 0, 0}, 4},
  };
}

TEST_F(Commands, EachIsOneTransactionWithItsBytesAndRoutine) {
  for (const CommandCase& c : AllCommands()) {
    SCOPED_TRACE(c.name);
    fake_i2c::Reset();
    fake_i2c::Queue({c.read_length + static_cast<int>(c.written.size()), Bytes(16, 0)});
    output_capture::StartStderr();
    const int result = c.send();
    output_capture::TakeStderr();
    EXPECT_EQ(result, 0);
    ASSERT_EQ(fake_i2c::Log().size(), 1u);
    const fake_i2c::Transfer& t = fake_i2c::Log()[0];
    EXPECT_EQ(t.call, c.call);
    EXPECT_EQ(t.written, c.written);
    EXPECT_EQ(t.read_length, c.read_length);
    EXPECT_EQ(t.device, "/dev/i2c5");
    EXPECT_EQ(t.address, 0x40);
  }
}

TEST_F(Commands, FailedTransferReportsBusErrorAndReturnsTheCode) {
  for (const CommandCase& c : AllCommands()) {
    SCOPED_TRACE(c.name);
    fake_i2c::Reset();
    virtual_clock::Reset();
    fake_i2c::Queue({-5, {}});
    output_capture::StartStderr();
    const int result = c.send();
    const auto lines = output_capture::DiagnosticTexts(output_capture::TakeStderr(), "cpld");
    EXPECT_EQ(result, std::string(c.name) == "GetDeviceID" ? -1 : -5);
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0], "I2C bus IO error, code: 0xfffffffb");
    // The status decoders add their own line after the bus error.
    const bool decoder = c.written[0] == 0x3C && std::string(c.name) != "ReadStatusRegister";
    EXPECT_EQ(lines.size(), decoder ? 2u : 1u);
    if (decoder && lines.size() == 2) {
      EXPECT_EQ(lines[1], "Fail to read status register");
    }
    EXPECT_TRUE(virtual_clock::Delays().empty()) << "no pause after a failed send";
  }
}

TEST_F(Commands, GetDeviceIdReturnsMinusOneWhateverTheBusCode) {
  for (int code : {-1, -5, -121, -2147483647 - 1}) {
    fake_i2c::Queue({code, {}});
    output_capture::StartStderr();
    EXPECT_EQ(GetDeviceID(&u32), -1);
    output_capture::TakeStderr();
  }
}

TEST_F(Commands, IntegerAnswersArriveMostSignificantByteFirst) {
  fake_i2c::Queue({4, {0x01, 0x2B, 0xB0, 0x43}});
  fake_i2c::Queue({4, {0x00, 0x00, 0x10, 0x00}});
  fake_i2c::Queue({2, {0x12, 0x34}});
  uint32_t id = 0, status = 0;
  uint16_t feabits = 0;
  EXPECT_EQ(GetDeviceID(&id), 0);
  EXPECT_EQ(ReadStatusRegister(&status), 0);
  EXPECT_EQ(ReadFEABITS(&feabits), 0);
  EXPECT_EQ(id, 0x012BB043u);
  EXPECT_EQ(status, 0x00001000u);
  EXPECT_EQ(feabits, 0x1234);
}

TEST_F(Commands, UsercodeAndRowsAreNotReordered) {
  fake_i2c::Queue({4, {0x78, 0x56, 0x34, 0x12}});
  Bytes row(kPage, kPage + 16);
  fake_i2c::Queue({16, row});
  uint8_t usercode[4] = {};
  ASSERT_EQ(ReadUSERCODE(reinterpret_cast<uint32_t*>(usercode)), 0);
  EXPECT_EQ(Bytes(usercode, usercode + 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
  uint8_t read_row[16] = {};
  ASSERT_EQ(ReadOnePage(read_row), 0);
  EXPECT_EQ(Bytes(read_row, read_row + 16), row);
}

TEST_F(Commands, FailedReadLeavesTheCallersBufferAsThePlatformLeftIt) {
  // The platform wrote bytes and then failed: they are neither reversed nor cleared.
  fake_i2c::Queue({-5, {0x01, 0x02, 0x03, 0x04}});
  uint32_t status = 0;
  output_capture::StartStderr();
  EXPECT_EQ(ReadStatusRegister(&status), -5);
  output_capture::TakeStderr();
  uint8_t bytes[4];
  std::memcpy(bytes, &status, 4);
  EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{0x01, 0x02, 0x03, 0x04}));
}

TEST_F(Commands, IsBusyTestsBitSevenOfTheBusyByte) {
  const struct {
    uint8_t busy_byte;
    uint8_t answer;
  } cases[] = {{0x80, 1}, {0xFF, 1}, {0x7F, 0}, {0x00, 0}};
  for (const auto& c : cases) {
    fake_i2c::Queue({1, {c.busy_byte}});
    uint8_t answer = 0xEE;
    EXPECT_EQ(IsBusy(&answer), 0);
    EXPECT_EQ(answer, c.answer) << int(c.busy_byte);
  }
  // A failed poll answers "not busy".
  fake_i2c::Queue({-6, {0x80}});
  uint8_t answer = 0xEE;
  output_capture::StartStderr();
  EXPECT_EQ(IsBusy(&answer), -6);
  output_capture::TakeStderr();
  EXPECT_EQ(answer, 0);
}

TEST_F(Commands, RefreshPausesOneSecondAfterASuccessfulSendOnly) {
  fake_i2c::Queue({3, {}});
  EXPECT_EQ(Refresh(), 0);
  EXPECT_EQ(virtual_clock::Delays(), (std::vector<uint64_t>{1000000}));
  virtual_clock::Reset();
  fake_i2c::Queue({-110, {}});
  output_capture::StartStderr();
  EXPECT_EQ(Refresh(), -110);
  output_capture::TakeStderr();
  EXPECT_TRUE(virtual_clock::Delays().empty());
}

TEST_F(Commands, NullPointersAreReportedBeforeAnyTraffic) {
  const struct {
    const char* text;
    std::function<int()> call;
  } cases[] = {
      {"p_device_id is NULL", [] { return GetDeviceID(nullptr); }},
      {"p_result is NULL", [] { return IsBusy(nullptr); }},
      {"p_status_reg is NULL", [] { return ReadStatusRegister(nullptr); }},
      {"p_feabits is NULL", [] { return ReadFEABITS(nullptr); }},
      {"p_page is NULL", [] { return ProgramPage(nullptr); }},
      {"p_usercode is NULL", [] { return ReadUSERCODE(nullptr); }},
      {"p_page is NULL", [] { return ReadOnePage(nullptr); }},
      {"p_result is NULL", [] { return IsFail(nullptr); }},
      {"p_result is NULL", [] { return HasPasswordProtected(nullptr); }},
      {"p_result is NULL", [] { return IsEnableOTP(nullptr); }},
      {"p_result is NULL", [] { return IsDone(nullptr); }},
      {"p_result is NULL", [] { return IsRefreshSuccessful(nullptr); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    output_capture::StartStderr();
    EXPECT_EQ(c.call(), -1);
    EXPECT_EQ(output_capture::DiagnosticTexts(output_capture::TakeStderr(), "cpld"),
              std::vector<std::string>{c.text});
  }
  EXPECT_TRUE(fake_i2c::Log().empty());
}

}  // namespace
