// The scripted complete update.
#include "scripted_update.h"

#include <cstring>

namespace sim {
namespace {

constexpr uint32_t kExpectedId = 0x012BB043;
constexpr uint16_t kFeabitsMask = 0xFFF2;
constexpr int kPollBudget = 15000;

// Polls the busy byte until the device is ready; false on a bus error or when it stays busy.
bool WaitReady() {
  for (int poll = 0; poll < kPollBudget; ++poll) {
    uint8_t busy = 1;
    if (IsBusy(&busy) < 0) return false;
    if (!busy) return true;
  }
  return false;
}

bool WaitAndCheck() {
  uint8_t fail = 1;
  return WaitReady() && IsFail(&fail) == 0 && !fail;
}

bool Fails(const char* step, std::string* failure) {
  *failure = step;
  return false;
}

bool ProgramArea(const uint8_t (*rows)[ISP_ROW_SIZE], int count) {
  for (int r = 0; r < count; ++r) {
    if (ProgramPage(rows[r]) < 0 || !WaitReady()) return false;
  }
  return true;
}

bool VerifyArea(const uint8_t (*rows)[ISP_ROW_SIZE], int count) {
  uint8_t row[ISP_ROW_SIZE];
  for (int r = 0; r < count; ++r) {
    if (ReadOnePage(row) < 0 || std::memcmp(row, rows[r], sizeof(row)) != 0) return false;
  }
  return true;
}

}  // namespace

bool RunScriptedUpdate(const IspInfo& image, std::string* failure) {
  uint32_t id = 0;
  uint8_t answer = 1;
  uint16_t feabits = 0;
  uint32_t usercode = 0;
  if (GetDeviceID(&id) < 0 || id != kExpectedId) return Fails("device ID", failure);
  if (HasPasswordProtected(&answer) < 0 || answer) return Fails("key protection", failure);
  if (EnableConfigurationInterfaceTransparentMode() < 0 || !WaitAndCheck()) {
    return Fails("transparent mode", failure);
  }
  answer = 1;
  if (IsEnableOTP(&answer) < 0 || answer) return Fails("OTP", failure);
  answer = 1;
  if (HasPasswordProtected(&answer) < 0 || answer) return Fails("key protection", failure);
  if (ReadFEABITS(&feabits) < 0 || (feabits & kFeabitsMask) != (image.feabits & kFeabitsMask)) {
    return Fails("FEABITS", failure);
  }
  if (EraseCFAndUFM() < 0 || !WaitAndCheck()) return Fails("erase", failure);

  if (ResetConfigurationFlashAddress() < 0 || !ProgramArea(image.cf_rows, ISP_CF_ROW_COUNT)) {
    return Fails("program CF", failure);
  }
  if (ProgramUSERCODE(image.usercode) < 0 || !WaitAndCheck()) {
    return Fails("program USERCODE", failure);
  }
  if (ReadUSERCODE(&usercode) < 0 || usercode != image.usercode) {
    return Fails("verify USERCODE", failure);
  }
  if (ResetConfigurationFlashAddress() < 0 || !VerifyArea(image.cf_rows, ISP_CF_ROW_COUNT)) {
    return Fails("verify CF", failure);
  }
  if (Bypass() < 0) return Fails("bypass", failure);
  if (ResetUFMAddress() < 0 || !ProgramArea(image.ufm_rows, ISP_UFM_ROW_COUNT)) {
    return Fails("program UFM", failure);
  }
  if (ResetUFMAddress() < 0 || !VerifyArea(image.ufm_rows, ISP_UFM_ROW_COUNT)) {
    return Fails("verify UFM", failure);
  }
  answer = 1;
  if (Bypass() < 0 || IsFail(&answer) < 0 || answer) return Fails("fail flag", failure);

  answer = 0;
  if (ProgramDONE() < 0 || !WaitReady() || IsDone(&answer) < 0 || !answer) {
    return Fails("DONE", failure);
  }
  if (DisableConfigurationInterface() < 0 || Bypass() < 0) return Fails("disable", failure);
  answer = 0;
  if (Refresh() < 0 || IsRefreshSuccessful(&answer) < 0 || !answer) {
    return Fails("refresh", failure);
  }
  if (Bypass() < 0) return Fails("final bypass", failure);
  return true;
}

}  // namespace sim
