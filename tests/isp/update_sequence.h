// What a complete update sends, transfer by transfer, and what a bus failure of each transfer
// must lead to: the result code and whether the clean-up runs. Shared by the tests of the whole
// sequence and the fault sweep.
#ifndef FUSEKIT_TEST_UPDATE_SEQUENCE_H
#define FUSEKIT_TEST_UPDATE_SEQUENCE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "fusekit.h"

namespace update_sequence {

namespace op {
constexpr uint8_t kDeviceId = 0xE0, kBusy = 0xF0, kStatus = 0x3C, kTransparent = 0x74,
                  kFeabits = 0xFB, kErase = 0x0E, kResetCf = 0x46, kProgramPage = 0x70,
                  kProgramUsercode = 0xC2, kRefresh = 0x79, kReadUsercode = 0xC0,
                  kReadPage = 0x73, kBypass = 0xFF, kResetUfm = 0x47, kProgramDone = 0x5E,
                  kDisable = 0x26;
}  // namespace op

struct Transfer {
  uint8_t opcode;
  int result_when_it_fails;  // what ISPFull returns when this transfer fails on the bus
  bool clean_up_when_it_fails;
  int row;  // the row a row loop is at, or -1 outside the row loops
};

// The transfers of a successful update on a device that is never busy, in order.
inline std::vector<Transfer> CompleteUpdate() {
  std::vector<Transfer> t;
  int row = -1;
  auto add = [&t, &row](uint8_t opcode, int result, bool clean_up) {
    t.push_back({opcode, result, clean_up, row});
  };
  // Checks, transparent mode and erase: a failure returns at once.
  add(op::kDeviceId, ERR_CHECK_DEVICE_ID, false);
  add(op::kStatus, ERR_CHECK_PASSWORD, false);
  add(op::kTransparent, ERR_ENABLE_TRANSPARENT, false);
  add(op::kBusy, ERR_CHECK_READY, false);
  add(op::kStatus, ERR_CHECK_RESULT, false);
  add(op::kStatus, ERR_CHECK_OTP, false);
  add(op::kStatus, ERR_CHECK_PASSWORD, false);
  add(op::kFeabits, ERR_VERIFY_FEABITS, false);
  add(op::kErase, ERR_ERASE, false);
  add(op::kBusy, ERR_CHECK_READY, false);
  add(op::kStatus, ERR_CHECK_RESULT, false);
  // Programming and verification: a failure is followed by the clean-up.
  add(op::kResetCf, ERR_RESET_CF_ADDRESS, true);
  for (row = 0; row < ISP_CF_ROW_COUNT; ++row) {
    add(op::kProgramPage, ERR_PROGRAM_CF_PAGE, true);
    add(op::kBusy, ERR_CHECK_READY, true);
  }
  row = -1;
  add(op::kProgramUsercode, ERR_PROGRAM_USERCODE, true);
  add(op::kBusy, ERR_CHECK_READY, true);
  add(op::kStatus, ERR_CHECK_RESULT, true);
  add(op::kReadUsercode, ERR_READ_USERCODE, true);
  add(op::kResetCf, ERR_RESET_CF_ADDRESS, true);
  for (row = 0; row < ISP_CF_ROW_COUNT; ++row) add(op::kReadPage, ERR_READ_CF_PAGE, true);
  row = -1;
  add(op::kBypass, ERR_BYPASS, true);
  add(op::kResetUfm, ERR_RESET_UFM_ADDRESS, true);
  for (row = 0; row < ISP_UFM_ROW_COUNT; ++row) {
    add(op::kProgramPage, ERR_PROGRAM_UFM_PAGE, true);
    add(op::kBusy, ERR_CHECK_READY, true);
  }
  row = -1;
  add(op::kResetUfm, ERR_RESET_UFM_ADDRESS, true);
  for (row = 0; row < ISP_UFM_ROW_COUNT; ++row) add(op::kReadPage, ERR_READ_UFM_PAGE, true);
  row = -1;
  add(op::kBypass, ERR_BYPASS, true);
  add(op::kStatus, ERR_CHECK_RESULT, true);
  // DONE and refresh. A lost DONE command is not examined: the done flag then stays clear.
  add(op::kProgramDone, ERR_DONE_DEASSERTED, true);
  add(op::kBusy, ERR_CHECK_READY, true);
  add(op::kStatus, ERR_CHECK_DONE, true);
  add(op::kDisable, ERR_DISABLE_INTERFACE, true);
  add(op::kBypass, ERR_BYPASS, true);
  // A failed refresh or refresh check is retried, and the next attempt succeeds; a failed final
  // bypass is only reported.
  add(op::kRefresh, 0, false);
  add(op::kStatus, 0, false);
  add(op::kBypass, 0, false);
  return t;
}

// A deterministic image with no two rows alike and no blank row, so that a row programmed in
// the wrong place or not at all cannot pass verification.
inline std::unique_ptr<IspInfo> MakeImage() {
  auto image = std::make_unique<IspInfo>();
  uint32_t state = 0x2545F491u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int row = 0; row < ISP_ROW_COUNT; ++row) {
    uint8_t* bytes = row < ISP_CF_ROW_COUNT ? image->cf_rows[row]
                                            : image->ufm_rows[row - ISP_CF_ROW_COUNT];
    for (int i = 0; i < ISP_ROW_SIZE; ++i) bytes[i] = static_cast<uint8_t>(next());
    bytes[0] = static_cast<uint8_t>(row);
    bytes[1] = static_cast<uint8_t>(row >> 8 | 0x80);
  }
  image->feabits = 0x0420;
  image->usercode = 0x12345678;
  image->default_fuse_state = 1;
  image->fuse_count = 491264;
  return image;
}

}  // namespace update_sequence

#endif
