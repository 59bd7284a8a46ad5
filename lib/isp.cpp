// Programming sequence: waits for the device, checks command outcomes, and runs the complete
// check, erase, program, verify and activate sequence, with a clean-up after a failure once
// programming has begun.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "diagnostic.h"
#include "fusekit.h"
#include "isp_internal.h"

namespace {

constexpr char kDiagnosticModule[] = "isp";

constexpr uint32_t kExpectedDeviceId = 0x012BB043;
constexpr uint16_t kFeabitsCompareMask = 0xFFF2;
constexpr uint32_t kProgressTotal = 2 * ISP_CF_ROW_COUNT + 2 * ISP_UFM_ROW_COUNT;  // 7676
constexpr int kRefreshAttempts = 5;

// Busy polling: 15 passes of 1000 polls, 1 ms after every busy answer.
constexpr int kPollPasses = 15;
constexpr int kPollsPerPass = 1000;
constexpr unsigned kPollIntervalUs = 1000;

constexpr unsigned kRowSettleUs = 200;
constexpr unsigned kCommandSettleUs = 1000;  // after transparent mode, before programming rows
constexpr unsigned kLongCommandSettleUs = 10000;  // after an erase or USERCODE
constexpr unsigned kPauseSeconds = 1;  // before verifying, around refresh, at the end

// One step of the progress file; a failure is reported and the sequence goes on.
void TakeProgressStep() {
  if (FishOneStepAndUpdateProgress() < 0) DIAGNOSTIC("Fail to update progress");
}

// Checks the key protection flag (done twice, before and after transparent mode is enabled).
int CheckKeyProtection() {
  uint8_t key_protected = 0;
  if (HasPasswordProtected(&key_protected) < 0) {
    DIAGNOSTIC("Fail to check password protect");
    return ERR_CHECK_PASSWORD;
  }
  if (key_protected) {
    DIAGNOSTIC("Device has key protection");
    return ERR_KEY_PROTECTED;
  }
  return 0;
}

// Checks the device and opens it to programming, then erases it. Nothing here is undone on
// failure: until the erase, the device's configuration has not been touched.
int CheckAndErase(const IspInfo* p_isp_info) {
  uint32_t device_id = 0;
  if (GetDeviceID(&device_id) < 0) {
    DIAGNOSTIC("Fail to check device ID match");
    return ERR_CHECK_DEVICE_ID;
  }
  if (device_id != kExpectedDeviceId) {
    DIAGNOSTIC("Device ID doesn't match");
    return ERR_DEVICE_ID_MISMATCH;
  }

  int result = CheckKeyProtection();
  if (result < 0) return result;

  if (EnableConfigurationInterfaceTransparentMode() < 0) {
    DIAGNOSTIC("Fail to enable transparent mode");
    return ERR_ENABLE_TRANSPARENT;
  }
  usleep(kCommandSettleUs);
  result = WaitAndCheckResult();
  if (result < 0) return result;

  uint8_t otp_enabled = 0;
  if (IsEnableOTP(&otp_enabled) < 0) {
    DIAGNOSTIC("Fail to check enable OTP");
    return ERR_CHECK_OTP;
  }
  if (otp_enabled) {
    DIAGNOSTIC("Device is enable OTP");
    return ERR_OTP_ENABLED;
  }

  result = CheckKeyProtection();
  if (result < 0) return result;

  uint16_t device_feabits = 0;
  if (ReadFEABITS(&device_feabits) < 0) {
    DIAGNOSTIC("Fail to read FEABITS");
    DIAGNOSTIC("Fail to verify FEABITS");
    return ERR_VERIFY_FEABITS;
  }
  if ((device_feabits & kFeabitsCompareMask) != (p_isp_info->feabits & kFeabitsCompareMask)) {
    DIAGNOSTIC("FEABITS doesn't match");
    return ERR_FEABITS_MISMATCH;
  }

  if (EraseCFAndUFM() < 0) {
    DIAGNOSTIC("Fail to erase CF and UFM");
    return ERR_ERASE;
  }
  usleep(kLongCommandSettleUs);
  return WaitAndCheckResult();
}

// Programs `row_count` rows, one progress step per row. A row that fails ends the loop with its
// result; a failure of the row command itself becomes `program_page_error`.
int ProgramRows(const uint8_t (*rows)[ISP_ROW_SIZE], int row_count, int program_page_error) {
  for (int row = 0; row < row_count; ++row) {
    const int result = ProgramPageAndWait(rows[row]);
    if (result < 0) return result == ERR_PROGRAM_PAGE ? program_page_error : result;
    TakeProgressStep();
  }
  return 0;
}

// Reads `row_count` rows back and compares each with the image, one progress step per equal row.
// Returns 0, `read_error` or `mismatch_error`; `read_failure_line` names the phase for the log.
int VerifyRows(const uint8_t (*rows)[ISP_ROW_SIZE], int row_count, int read_error,
               int mismatch_error, const char* read_failure_line,
               const char* mismatch_line) {
  uint8_t read_back[ISP_ROW_SIZE];
  for (int row = 0; row < row_count; ++row) {
    if (ReadOnePage(read_back) < 0) {
      DIAGNOSTIC("%s", read_failure_line);
      return read_error;
    }
    if (std::memcmp(read_back, rows[row], ISP_ROW_SIZE) != 0) {
      DIAGNOSTIC("Fail to verify on in page %d", row);
      DIAGNOSTIC("%s", mismatch_line);
      return mismatch_error;
    }
    TakeProgressStep();
  }
  return 0;
}

// The USERCODE as read back: the bytes in the order received, least significant first.
uint32_t UsercodeFromBytes(const uint8_t (&bytes)[4]) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Programs and verifies the configuration flash, the USERCODE and the user flash, then checks
// the outcome before DONE. Every failure here calls for the clean-up.
int ProgramAndVerify(const IspInfo* p_isp_info) {
  if (ResetConfigurationFlashAddress() < 0) {
    DIAGNOSTIC("Fail to reset configuration flash address");
    DIAGNOSTIC("Fail to program configuration flash");
    return ERR_RESET_CF_ADDRESS;
  }
  usleep(kCommandSettleUs);
  int result = ProgramRows(p_isp_info->cf_rows, ISP_CF_ROW_COUNT, ERR_PROGRAM_CF_PAGE);
  if (result < 0) {
    DIAGNOSTIC("Fail to program configuration flash");
    return result;
  }

  if (ProgramUSERCODE(p_isp_info->usercode) < 0) {
    DIAGNOSTIC("Fail to program USERCODE");
    return ERR_PROGRAM_USERCODE;
  }
  usleep(kLongCommandSettleUs);
  result = WaitAndCheckResult();
  if (result < 0) return result;

  uint8_t usercode_bytes[4] = {0, 0, 0, 0};
  uint32_t usercode_word = 0;
  if (ReadUSERCODE(&usercode_word) < 0) {
    DIAGNOSTIC("Fail to read USERCODE");
    DIAGNOSTIC("Fail to verify USERCODE");
    return ERR_READ_USERCODE;
  }
  std::memcpy(usercode_bytes, &usercode_word, sizeof(usercode_bytes));
  if (UsercodeFromBytes(usercode_bytes) != p_isp_info->usercode) {
    DIAGNOSTIC("USERCODE doesn't match");
    return ERR_USERCODE_MISMATCH;
  }

  if (ResetConfigurationFlashAddress() < 0) {
    DIAGNOSTIC("Fail to reset configuration flash address");
    DIAGNOSTIC("Fail to verify CF");
    return ERR_RESET_CF_ADDRESS;
  }
  sleep(kPauseSeconds);
  result = VerifyRows(p_isp_info->cf_rows, ISP_CF_ROW_COUNT, ERR_READ_CF_PAGE, ERR_CF_MISMATCH,
                      "Fail to verify CF", "CF doesn't match");
  if (result < 0) return result;

  if (Bypass() < 0) {
    DIAGNOSTIC("Fail to bypass");
    return ERR_BYPASS;
  }

  if (ResetUFMAddress() < 0) {
    DIAGNOSTIC("Fail to reset user flash address");
    DIAGNOSTIC("Fail to program user flash");
    return ERR_RESET_UFM_ADDRESS;
  }
  usleep(kCommandSettleUs);
  result = ProgramRows(p_isp_info->ufm_rows, ISP_UFM_ROW_COUNT, ERR_PROGRAM_UFM_PAGE);
  if (result < 0) {
    DIAGNOSTIC("Fail to program user flash");
    return result;
  }

  if (ResetUFMAddress() < 0) {
    DIAGNOSTIC("Fail to reset user flash address");
    DIAGNOSTIC("Fail to verify UFM");
    return ERR_RESET_UFM_ADDRESS;
  }
  sleep(kPauseSeconds);
  result = VerifyRows(p_isp_info->ufm_rows, ISP_UFM_ROW_COUNT, ERR_READ_UFM_PAGE,
                      ERR_UFM_MISMATCH, "Fail to verify UFM", "UFM doesn't match");
  if (result < 0) return result;

  if (Bypass() < 0) {
    DIAGNOSTIC("Fail to bypass");
    return ERR_BYPASS;
  }

  uint8_t failed = 0;
  if (IsFail(&failed) < 0) {
    DIAGNOSTIC("Fail to check command result");
    return ERR_CHECK_RESULT;
  }
  if (failed) {
    DIAGNOSTIC("The result of command befor programming DONE is fail");
    return ERR_RESULT_FAIL;
  }
  return 0;
}

// One refresh attempt; true when the device reports that the refresh succeeded.
bool TryRefresh() {
  if (Refresh() < 0) {
    DIAGNOSTIC("Fail to refresh");
    sleep(kPauseSeconds);
    return false;
  }
  sleep(kPauseSeconds);
  uint8_t refreshed = 0;
  if (IsRefreshSuccessful(&refreshed) < 0) {
    DIAGNOSTIC("Fail to check refresh is successful");
    sleep(kPauseSeconds);
    return false;
  }
  if (!refreshed) {
    DIAGNOSTIC("Refresh is failed");
    return false;
  }
  return true;
}

// Programs DONE, closes the configuration interface and refreshes the device, with up to five
// refresh attempts. Every failure here calls for the clean-up.
int ProgramDoneAndRefresh() {
  ProgramDONE();  // the wait and the done flag below decide whether it took effect

  uint8_t timeout = 0;
  const int wait_result = WaitDeviceReady(&timeout);
  if (wait_result < 0) return ERR_CHECK_READY;
  if (timeout) return ERR_TIMEOUT;

  uint8_t done = 0;
  if (IsDone(&done) < 0) {
    DIAGNOSTIC("Fail to check done flag");
    return ERR_CHECK_DONE;
  }
  if (!done) {
    DIAGNOSTIC("The done flag is deassert");
    return ERR_DONE_DEASSERTED;
  }

  if (DisableConfigurationInterface() < 0) {
    DIAGNOSTIC("Fail to disable configuration interface");
    return ERR_DISABLE_INTERFACE;
  }
  if (Bypass() < 0) {
    DIAGNOSTIC("Fail to bypass");
    return ERR_BYPASS;
  }

  for (int attempt = 1; attempt <= kRefreshAttempts; ++attempt) {
    if (attempt > 1) {
      std::printf("Retry refresh. Retry count is %d.\n", attempt - 1);
      std::fflush(stdout);
    }
    if (TryRefresh()) return 0;
  }
  return ERR_REFRESH;
}

// Erases the device again and refreshes it after a failure once programming has begun, so that
// no half-programmed configuration is left to run. Returns `code` unchanged in every case.
int CleanUp(int code) {
  std::printf("Start clean up...\n");
  std::fflush(stdout);
  if (EraseCFAndUFM() < 0) {
    DIAGNOSTIC("Fail to erase CF and UFM");
    DIAGNOSTIC("Fail to clean up");
    return code;
  }
  usleep(kLongCommandSettleUs);
  uint8_t timeout = 0;
  if (WaitDeviceReady(&timeout) < 0 || timeout) {
    DIAGNOSTIC("Fail to clean up");
    return code;
  }
  if (Refresh() < 0) {
    DIAGNOSTIC("Fail to refresh");
    DIAGNOSTIC("Fail to clean up");
    return code;
  }
  return code;
}

}  // namespace

extern "C" {

int WaitDeviceReady(uint8_t* p_timeout) {
  *p_timeout = 0;
  for (int pass = 0; pass < kPollPasses; ++pass) {
    for (int poll = 0; poll < kPollsPerPass; ++poll) {
      uint8_t busy = 0;
      const int result = IsBusy(&busy);
      if (result < 0) {
        DIAGNOSTIC("Fail to check device busy");
        return result;
      }
      if (!busy) return 0;
      usleep(kPollIntervalUs);
    }
  }
  *p_timeout = 1;
  DIAGNOSTIC("Timeout in waitting device ready...");
  return 0;
}

int WaitAndCheckResult(void) {
  uint8_t timeout = 0;
  if (WaitDeviceReady(&timeout) < 0) return ERR_CHECK_READY;
  if (timeout) return ERR_TIMEOUT;
  uint8_t failed = 0;
  if (IsFail(&failed) < 0) {
    DIAGNOSTIC("Fail to check command result");
    return ERR_CHECK_RESULT;
  }
  if (failed) {
    DIAGNOSTIC("The result of command is fail");
    return ERR_RESULT_FAIL;
  }
  return 0;
}

int ProgramPageAndWait(const uint8_t* p_page) {
  if (ProgramPage(p_page) < 0) {
    DIAGNOSTIC("Fail to program page");
    return ERR_PROGRAM_PAGE;
  }
  usleep(kRowSettleUs);
  uint8_t timeout = 0;
  if (WaitDeviceReady(&timeout) < 0) return ERR_CHECK_READY;
  if (timeout) return ERR_TIMEOUT;
  return 0;
}

FUSEKIT_API int ISPFull(const IspInfo* p_isp_info, const char* progress_file_path) {
  if (p_isp_info == nullptr) {
    DIAGNOSTIC("p_isp_info is NULL");
    return -1;
  }
  // Progress is a convenience for onlookers: a file that cannot be set up does not stop the update.
  InitUpdateProgress(progress_file_path, kProgressTotal);

  int result = CheckAndErase(p_isp_info);
  if (result < 0) return result;

  result = ProgramAndVerify(p_isp_info);
  if (result < 0) return CleanUp(result);

  result = ProgramDoneAndRefresh();
  if (result < 0) {
    DIAGNOSTIC("Fail to execute program done and refresh");
    return CleanUp(result);
  }

  if (Bypass() < 0) DIAGNOSTIC("Fail to bypass");
  sleep(kPauseSeconds);
  return 0;
}

FUSEKIT_API void PrintISPInfo(const IspInfo* p_isp_info) {
  if (p_isp_info == nullptr) DIAGNOSTIC("p_isp_info is NULL");
}

}  // extern "C"
