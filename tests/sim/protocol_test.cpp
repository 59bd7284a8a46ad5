// The simulated device answers the command protocol as the command layer expects: values, byte
// order on the wire, flash programming and read-back with the address pointers, refusals.
#include <cerrno>
#include <string>
#include <vector>

#include "board_i2c.h"
#include "output_capture.h"
#include "scripted_update.h"
#include "sim_test_support.h"

namespace {

using sim_test::SimFixture;
using Bytes = std::vector<uint8_t>;

class SimProtocolTest : public SimFixture {};

TEST_F(SimProtocolTest, AnswersIdStatusFeabitsMostSignificantByteFirst) {
  device_.config().feabits = 0x1234;
  device_.config().key_protection = true;
  device_.config().otp = true;

  uint32_t id = 0;
  ASSERT_EQ(GetDeviceID(&id), 0);
  EXPECT_EQ(id, 0x012BB043u);
  EXPECT_EQ(LastTransfer().Out(), (Bytes{0xE0, 0x00, 0x00, 0x00}));
  EXPECT_EQ(LastTransfer().In(), (Bytes{0x01, 0x2B, 0xB0, 0x43}));

  uint16_t feabits = 0;
  ASSERT_EQ(ReadFEABITS(&feabits), 0);
  EXPECT_EQ(feabits, 0x1234);
  EXPECT_EQ(LastTransfer().In(), (Bytes{0x12, 0x34}));

  uint32_t status = 0;
  ASSERT_EQ(ReadStatusRegister(&status), 0);
  EXPECT_EQ(status, 0x00020060u);
  EXPECT_EQ(LastTransfer().In(), (Bytes{0x00, 0x02, 0x00, 0x60}));
  uint8_t answer = 0;
  ASSERT_EQ(HasPasswordProtected(&answer), 0);
  EXPECT_EQ(answer, 1);
  ASSERT_EQ(IsEnableOTP(&answer), 0);
  EXPECT_EQ(answer, 1);
}

TEST_F(SimProtocolTest, UsercodeComesBackInTheOrderItWasSent) {
  EnableAndErase();
  ASSERT_EQ(ProgramUSERCODE(0x12345678), 0);
  EXPECT_EQ(LastTransfer().Out(), (Bytes{0xC2, 0x00, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12}));
  uint32_t usercode = 0;
  ASSERT_EQ(ReadUSERCODE(&usercode), 0);
  EXPECT_EQ(LastTransfer().In(), (Bytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(usercode, 0x12345678u);
}

TEST_F(SimProtocolTest, RowsGoToThePointerOfTheSelectedAreaAndAdvanceIt) {
  EnableAndErase();
  const auto image = sim_test::MakeImage();
  ASSERT_EQ(ResetConfigurationFlashAddress(), 0);
  for (int r = 0; r < 3; ++r) ASSERT_EQ(ProgramPage(image->cf_rows[r]), 0);
  ASSERT_EQ(ResetUFMAddress(), 0);
  for (int r = 0; r < 2; ++r) ASSERT_EQ(ProgramPage(image->ufm_rows[r]), 0);

  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(0, std::memcmp(device_.state().cf[r].data(), image->cf_rows[r], 16)) << r;
  }
  EXPECT_EQ(device_.state().cf[3], sim::Row{});
  EXPECT_EQ(0, std::memcmp(device_.state().ufm[0].data(), image->ufm_rows[0], 16));
  EXPECT_EQ(0, std::memcmp(device_.row(sim::kCfRowCount + 1).data(), image->ufm_rows[1], 16));
  EXPECT_EQ(device_.state().cf_pointer, 3u);
  EXPECT_EQ(device_.state().ufm_pointer, 2u);

  // Read-back starts over after a reset and walks the rows in order.
  ASSERT_EQ(ResetConfigurationFlashAddress(), 0);
  for (int r = 0; r < 3; ++r) {
    uint8_t row[16] = {};
    ASSERT_EQ(ReadOnePage(row), 0);
    EXPECT_EQ(0, std::memcmp(row, image->cf_rows[r], 16)) << r;
  }
  EXPECT_EQ(LastTransfer().Out(), (Bytes{0x73, 0x00, 0x00, 0x01}));
  ASSERT_EQ(ResetUFMAddress(), 0);
  uint8_t row[16] = {};
  ASSERT_EQ(ReadOnePage(row), 0);
  EXPECT_EQ(0, std::memcmp(row, image->ufm_rows[0], 16));
  EXPECT_FALSE(device_.state().fail);
}

TEST_F(SimProtocolTest, EraseClearsBothAreasUsercodeAndDone) {
  device_.state().cf[5].fill(0xAA);
  device_.state().ufm[639].fill(0x55);
  device_.state().usercode = {1, 2, 3, 4};
  device_.state().done_fuse = true;
  device_.state().done = true;
  EnableAndErase();
  EXPECT_EQ(device_.state().cf[5], sim::Row{});
  EXPECT_EQ(device_.state().ufm[639], sim::Row{});
  EXPECT_EQ(device_.state().usercode, (std::array<uint8_t, 4>{}));
  EXPECT_FALSE(device_.state().done_fuse);
  EXPECT_EQ(device_.StatusRegister() & sim::status::kDone, 0u);
}

// Operations the device takes on the bus but refuses: the fail flag rises, the flash stays.
TEST_F(SimProtocolTest, RefusedOperationsRaiseTheFailFlagAndChangeNothing) {
  const uint8_t data[16] = {0x11, 0x22};

  // Programming outside transparent mode.
  ASSERT_EQ(ProgramPage(data), 0);
  EXPECT_TRUE(device_.state().fail);
  EXPECT_EQ(device_.state().cf[0], sim::Row{});
  EXPECT_EQ(ProgramUSERCODE(0x01020304), 0);
  EXPECT_EQ(device_.state().usercode, (std::array<uint8_t, 4>{}));
  EXPECT_EQ(ProgramDONE(), 0);
  EXPECT_FALSE(device_.state().done_fuse);

  // Erasing a device with key protection or OTP.
  device_.state().cf[0].fill(0x01);
  device_.state().fail = false;
  for (bool* property : {&device_.config().key_protection, &device_.config().otp}) {
    *property = true;
    ASSERT_EQ(EraseCFAndUFM(), 0);
    EXPECT_TRUE(device_.state().fail);
    EXPECT_EQ(device_.state().cf[0][0], 0x01);
    *property = false;
  }

  // Entering transparent mode clears the flag; a row that is not blank is refused but the pointer
  // moves on, so the next row lands in its own place.
  EnableAndErase();
  EXPECT_FALSE(device_.state().fail);
  device_.state().cf[0].fill(0x01);
  ASSERT_EQ(ProgramPage(data), 0);
  EXPECT_TRUE(device_.state().fail);
  EXPECT_EQ(device_.state().cf[0][1], 0x01);
  ASSERT_EQ(ProgramPage(data), 0);
  EXPECT_EQ(device_.state().cf[1][1], 0x22);

  // Past the last row of an area.
  EnableAndErase();
  device_.state().ufm_pointer = sim::kUfmRowCount - 1;
  device_.state().area = sim::Area::kUfm;
  ASSERT_EQ(ProgramPage(data), 0);
  EXPECT_FALSE(device_.state().fail);
  ASSERT_EQ(ProgramPage(data), 0);
  EXPECT_TRUE(device_.state().fail);
  EXPECT_EQ(device_.state().ufm_pointer, static_cast<uint32_t>(sim::kUfmRowCount));
  uint8_t row[16] = {};
  ASSERT_EQ(ReadOnePage(row), 0);
  EXPECT_EQ(row[0], 0xFF);  // nothing behind the last row

  uint8_t fail = 0;
  ASSERT_EQ(IsFail(&fail), 0);
  EXPECT_EQ(fail, 1);
  EXPECT_EQ(device_.counters().rejected_operations, 8u);
}

// An update that fails after disabling the configuration interface erases in its clean-up.
TEST_F(SimProtocolTest, EraseIsTakenOutsideTransparentModeToo) {
  device_.state().cf[0].fill(0x01);
  device_.state().done_fuse = true;
  ASSERT_EQ(EraseCFAndUFM(), 0);
  EXPECT_EQ(device_.state().cf[0], sim::Row{});
  EXPECT_FALSE(device_.state().done_fuse);
  EXPECT_FALSE(device_.state().fail);
}

TEST_F(SimProtocolTest, CommandsWhileBusyAreIgnoredAndFlagged) {
  EnableAndErase();
  device_.config().row_busy.polls = 5;
  const uint8_t data[16] = {0x11};
  ASSERT_EQ(ProgramPage(data), 0);
  ASSERT_EQ(ProgramPage(data), 0);  // the device is still busy with the first row
  EXPECT_EQ(device_.state().cf_pointer, 1u);
  EXPECT_EQ(device_.counters().ignored_while_busy, 1u);
  EXPECT_TRUE(device_.state().fail);
}

TEST_F(SimProtocolTest, RefreshLoadsAProgrammedDeviceOnly) {
  uint8_t success = 1;
  EnableAndErase();
  ASSERT_EQ(DisableConfigurationInterface(), 0);
  ASSERT_EQ(Refresh(), 0);
  ASSERT_EQ(IsRefreshSuccessful(&success), 0);
  EXPECT_EQ(success, 0) << "an erased device has no DONE to load";

  ASSERT_EQ(EnableConfigurationInterfaceTransparentMode(), 0);
  ASSERT_EQ(ProgramDONE(), 0);
  uint8_t done = 0;
  ASSERT_EQ(IsDone(&done), 0);
  EXPECT_EQ(done, 1);
  ASSERT_EQ(DisableConfigurationInterface(), 0);
  EXPECT_FALSE(device_.state().transparent);
  ASSERT_EQ(Refresh(), 0);
  ASSERT_EQ(IsRefreshSuccessful(&success), 0);
  EXPECT_EQ(success, 1);
  EXPECT_EQ(device_.state().refresh_attempts, 2u);
}

// Transfers that a real slave would not acknowledge: the call fails, nothing happens.
TEST_F(SimProtocolTest, RefusesWhatIsNotInTheProtocol) {
  Bytes short_row(19, 0x00);  // ProgramPage with 15 data bytes
  short_row[0] = 0x70;
  struct Case {
    const char* what;
    sim::TransferKind kind;
    Bytes out;
    int read_length;
  };
  const Case cases[] = {
      {"unknown opcode", sim::TransferKind::kWrite, {0x12, 0x00, 0x00, 0x00}, 0},
      {"erase with a wrong operand", sim::TransferKind::kWrite, {0x0E, 0x0C, 0x00, 0x01}, 0},
      {"erase with 3 bytes", sim::TransferKind::kWrite, {0x0E, 0x0C, 0x00}, 0},
      {"refresh with 4 bytes", sim::TransferKind::kWrite, {0x79, 0x00, 0x00, 0x00}, 0},
      {"transparent mode with operand 00", sim::TransferKind::kWrite, {0x74, 0x00, 0x00}, 0},
      {"row with 15 data bytes", sim::TransferKind::kWrite, short_row, 0},
      {"read page with last operand 00", sim::TransferKind::kWriteRead, {0x73, 0x00, 0x00, 0x00}, 16},
      {"ID read 3 bytes long", sim::TransferKind::kWriteRead, {0xE0, 0x00, 0x00, 0x00}, 3},
      {"ID as a plain write", sim::TransferKind::kWrite, {0xE0, 0x00, 0x00, 0x00}, 0},
      {"erase as a write-read", sim::TransferKind::kWriteRead, {0x0E, 0x0C, 0x00, 0x00}, 1},
      {"a read without a command", sim::TransferKind::kRead, {}, 4},
      {"an empty write", sim::TransferKind::kWrite, {}, 0},
  };
  device_.state().transparent = true;
  device_.state().cf[0].fill(0x5A);
  for (const Case& c : cases) {
    const uint64_t refused_before = device_.counters().refused;
    uint8_t in[16] = {};
    int result = 0;
    const Bytes& out = c.out;
    switch (c.kind) {
      case sim::TransferKind::kWrite:
        result = device_.Write("/dev/i2c5", 0x40, out.data(), static_cast<int>(out.size()));
        break;
      case sim::TransferKind::kRead:
        result = device_.Read("/dev/i2c5", 0x40, in, c.read_length);
        break;
      case sim::TransferKind::kWriteRead:
        result = device_.WriteRead("/dev/i2c5", 0x40, out.data(), in,
                                   static_cast<int>(out.size()), c.read_length);
        break;
    }
    EXPECT_EQ(result, sim::kRefusedCode) << c.what;
    EXPECT_EQ(device_.counters().refused, refused_before + 1) << c.what;
  }
  EXPECT_EQ(device_.state().cf[0][0], 0x5A) << "no refused erase took effect";
  EXPECT_EQ(device_.counters().executed, 0u);
  EXPECT_EQ(device_.counters().Opcode(0x0E), 3u);
}

TEST_F(SimProtocolTest, AnswersOnlyAtItsAddressAndBus) {
  const uint8_t command[4] = {0xE0, 0x00, 0x00, 0x00};
  uint8_t id[4] = {};
  EXPECT_EQ(device_.WriteRead("/dev/i2c5", 0x41, command, id, 4, 4), -ENXIO);
  device_.config().device_path = "/dev/i2c5";
  EXPECT_EQ(device_.WriteRead("/dev/i2c4", 0x40, command, id, 4, 4), -ENOENT);
  EXPECT_EQ(device_.WriteRead("/dev/i2c5", 0x40, command, id, 4, 4), 8);
  EXPECT_EQ(device_.counters().refused, 2u);

  sim::Attach(nullptr);
  EXPECT_EQ(i2c_writeread("/dev/i2c5", 0x40, command, id, 4, 4), -ENXIO);
}

TEST_F(SimProtocolTest, ScriptedCompleteUpdateSucceedsWithDefaults) {
  const auto image = sim_test::MakeImage(7);
  std::string failure;
  output_capture::StartStderr();
  const bool ok = sim::RunScriptedUpdate(*image, &failure);
  EXPECT_EQ(output_capture::TakeStderr(), "");
  ASSERT_TRUE(ok) << failure;

  const sim::Comparison comparison = sim::Compare(device_.state(), *image);
  EXPECT_TRUE(comparison.Matches());
  EXPECT_EQ(comparison.mismatched_rows, 0);
  EXPECT_EQ(device_.counters().Opcode(sim::opcode::kProgramPage), 3838u);
  EXPECT_EQ(device_.counters().Opcode(sim::opcode::kReadPage), 3838u);
  EXPECT_EQ(device_.counters().refused + device_.counters().rejected_operations +
                device_.counters().ignored_while_busy,
            0u);
  EXPECT_EQ(device_.StatusRegister(), sim::status::kDone);

  // One wrong row is found, and where.
  image->ufm_rows[100][3] ^= 0x10;
  const sim::Comparison changed = sim::Compare(device_.state(), *image);
  EXPECT_FALSE(changed.Matches());
  EXPECT_EQ(changed.first_cf_mismatch, -1);
  EXPECT_EQ(changed.first_ufm_mismatch, 100);
  EXPECT_EQ(changed.mismatched_rows, 1);
}

TEST_F(SimProtocolTest, TranscriptDescribesEachTransfer) {
  uint32_t id = 0;
  ASSERT_EQ(GetDeviceID(&id), 0);
  ASSERT_EQ(device_.transcript().size(), 1u);
  EXPECT_EQ(sim::Describe(LastTransfer()), "#1 t=0us writeread E0 00 00 00 -> 01 2B B0 43 = 8");
  device_.config().record_transcript = false;
  ASSERT_EQ(GetDeviceID(&id), 0);
  EXPECT_EQ(device_.transcript().size(), 1u);
  EXPECT_EQ(device_.counters().transfers, 2u);
}

}  // namespace
