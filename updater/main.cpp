// fuseupdate: one complete, unattended update of the CPLD from the fuse file at a fixed path.
// It reports the run through a marker file, a status file, a result file on failure, the
// progress file that the programming sequence keeps, banners on standard output and its exit
// status (the low byte of the result code).
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board_util.h"
#include "diagnostic.h"
#include "fusekit.h"
#include "result_text.h"

namespace {

constexpr char kDiagnosticModule[] = "main";

constexpr char kMarkerPath[] = "/var/bp_cpld_upgrade";
constexpr char kStatusUpdating[] = "echo 04 > /conf/i2c_cpld_update_status";
constexpr char kStatusPassed[] = "echo 02 > /conf/i2c_cpld_update_status";
constexpr char kStatusFailed[] = "echo 05 > /conf/i2c_cpld_update_status";
constexpr char kFuseFilePath[] = "/var/cpld.jed";
constexpr char kProgressPath[] = "/var/i2c_cpld_update_progress";
constexpr char kResultPath[] = "/conf/cpld_update_result";
constexpr int kI2cBus = 5;
constexpr int kSlaveAddress = 0x40;
constexpr int kProgressAttempts = 5;
constexpr unsigned kProgressRetryDelayUs = 500000;
constexpr unsigned kPassHoldSeconds = 7;
constexpr char kFailureFormat[] = "\nProcessing failure: %s\n\n";

// The image is too large for a small stack; static storage also gives every row the fuse file
// does not list a defined content (all zero).
IspInfo isp_info;

void RunStatusCommand(const char* command) {
  std::fflush(stdout);
  const int ignored = std::system(command);
  (void)ignored;
}

void ReportFailure(int result, char* message) {
  ResultCodeToText(static_cast<int16_t>(static_cast<uint16_t>(result)), message);
  std::printf(kFailureFormat, message);
  if (FILE* file = std::fopen(kResultPath, "w")) {
    std::fprintf(file, kFailureFormat, message);
    std::fclose(file);
  }
  std::puts("+=======+");
  std::puts("| FAIL! |");
  std::puts("+=======+\n");
  RunStatusCommand(kStatusFailed);
}

// Forces the progress file to 100 and reads it back, up to five times. The outcome never turns
// the update into a failure.
void ConfirmProgressComplete() {
  for (int attempt = 1; attempt <= kProgressAttempts; ++attempt) {
    if (UpdateProgress(100) < 0) {
      DIAGNOSTIC("Fail to update progress");
    } else {
      uint8_t progress = 0;
      if (ReadProgress(&progress) < 0) DIAGNOSTIC("Fail to read progress");
      if (progress == 100) return;
    }
    usleep(kProgressRetryDelayUs);
    if (attempt == kProgressAttempts) return;
    std::printf("Retry %d update progress to 100\n", attempt);
  }
}

void ReportSuccess() {
  ConfirmProgressComplete();
  std::puts("\n+=======+");
  std::puts("| PASS! |");
  std::puts("+=======+\n");
  RunStatusCommand(kStatusPassed);
  sleep(kPassHoldSeconds);
  if (ResetProgress() < 0) DIAGNOSTIC("Fail to reset progress bar to 0");
}

}  // namespace

int main() {
  char message[kResultTextBufferSize];
  std::memset(message, 0, sizeof(message));
  // Watchers read standard output line by line.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // Sleep no longer than asked: the update waits 200 us after each of its 3838 rows, and the
  // default timer slack of 50 us would add a fifth to each of those waits.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  std::puts("Start to update CPLD...");
  touch(kMarkerPath);
  RunStatusCommand(kStatusUpdating);

  int result = InitCPLDDevice(kI2cBus, kSlaveAddress);
  if (result >= 0) result = ParserJEDFile(kFuseFilePath, &isp_info);
  if (result >= 0) {
    PrintISPInfo(&isp_info);
    result = ISPFull(&isp_info, kProgressPath);
  }

  if (result < 0) {
    ReportFailure(result, message);
  } else {
    ReportSuccess();
  }
  unlink(kMarkerPath);
  return result;
}
