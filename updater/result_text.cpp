#include "result_text.h"

#include <cstring>

#include "result_code.h"

namespace {

// Indexed by code - RESULT_CODE_FIRST.
constexpr const char* kResultTexts[RESULT_CODE_COUNT] = {
    "Fail to check device ID match",             // ERR_CHECK_DEVICE_ID
    "Device ID doesn't match",                   // ERR_DEVICE_ID_MISMATCH
    "Fail to check password protect",            // ERR_CHECK_PASSWORD
    "Device has key protection",                 // ERR_KEY_PROTECTED
    "Fail to enable transparent mode",           // ERR_ENABLE_TRANSPARENT
    "Fail to Check Device Ready",                // ERR_CHECK_READY
    "Timeout",                                   // ERR_TIMEOUT
    "Fail to check command result",              // ERR_CHECK_RESULT
    "The result of command is fail",             // ERR_RESULT_FAIL
    "Fail to check enable OTP",                  // ERR_CHECK_OTP
    "Device is enable OTP",                      // ERR_OTP_ENABLED
    "Fail to verify FEABITS",                    // ERR_VERIFY_FEABITS
    "FEABITS doesn't match",                     // ERR_FEABITS_MISMATCH
    "Fail to erase CF and UFM",                  // ERR_ERASE
    "Fail to erase CF and UFM",                  // ERR_RESET_CF_ADDRESS shares the erase text
    "Fail to program page",                      // ERR_PROGRAM_PAGE
    "Fail to program configuration flash page",  // ERR_PROGRAM_CF_PAGE
    "Fail to program USERCODE",                  // ERR_PROGRAM_USERCODE
    "Fail to read USERCODE",                     // ERR_READ_USERCODE
    "USERCODE doesn't match",                    // ERR_USERCODE_MISMATCH
    "Fail to read configuration flash page",     // ERR_READ_CF_PAGE
    "CF doesn't match",                          // ERR_CF_MISMATCH
    "Fail to bypass",                            // ERR_BYPASS
    "Fail to reset user flash addres",           // ERR_RESET_UFM_ADDRESS
    "Fail to program UFM page",                  // ERR_PROGRAM_UFM_PAGE
    "Fail to read UFM page",                     // ERR_READ_UFM_PAGE
    "UFM doesn't match",                         // ERR_UFM_MISMATCH
    "Fail to check done flag",                   // ERR_CHECK_DONE
    "The done flag is deassert",                 // ERR_DONE_DEASSERTED
    "Fail to disable configuration interface",   // ERR_DISABLE_INTERFACE
    "Fail to execute refresh command",           // ERR_REFRESH
    "Fail to open Firmware file",                // ERR_OPEN_FIRMWARE
    "Fail to Parse Firmware file",               // ERR_PARSE_FIRMWARE
    "Fail to Close Firmware file",               // ERR_CLOSE_FIRMWARE
    "Fail to Init CPLD device",                  // ERR_INIT_DEVICE
};

constexpr char kUnknownText[] = "UNKNOWN ERROR";

constexpr bool AllTextsFit() {
  for (const char* text : kResultTexts) {
    int length = 0;
    while (text[length] != '\0') ++length;
    if (length + 1 > kResultTextBufferSize) return false;
  }
  return true;
}
static_assert(AllTextsFit(), "every result text must fit the message buffer");

}  // namespace

void ResultCodeToText(int16_t code, char* p_message) {
  const int index = code - RESULT_CODE_FIRST;
  const char* text = index >= 0 && index < RESULT_CODE_COUNT ? kResultTexts[index] : kUnknownText;
  std::memcpy(p_message, text, std::strlen(text) + 1);
}
