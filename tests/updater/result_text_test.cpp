// The operator's text for every result code, and for codes outside the table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "result_code.h"
#include "result_text.h"

namespace {

std::string Text(int16_t code) {
  char buffer[kResultTextBufferSize] = {};
  ResultCodeToText(code, buffer);
  return buffer;
}

TEST(ResultText, WholeTable) {
  const std::pair<int, const char*> table[] = {
      {ERR_CHECK_DEVICE_ID, "Fail to check device ID match"},
      {ERR_DEVICE_ID_MISMATCH, "Device ID doesn't match"},
      {ERR_CHECK_PASSWORD, "Fail to check password protect"},
      {ERR_KEY_PROTECTED, "Device has key protection"},
      {ERR_ENABLE_TRANSPARENT, "Fail to enable transparent mode"},
      {ERR_CHECK_READY, "Fail to Check Device Ready"},
      {ERR_TIMEOUT, "Timeout"},
      {ERR_CHECK_RESULT, "Fail to check command result"},
      {ERR_RESULT_FAIL, "The result of command is fail"},
      {ERR_CHECK_OTP, "Fail to check enable OTP"},
      {ERR_OTP_ENABLED, "Device is enable OTP"},
      {ERR_VERIFY_FEABITS, "Fail to verify FEABITS"},
      {ERR_FEABITS_MISMATCH, "FEABITS doesn't match"},
      {ERR_ERASE, "Fail to erase CF and UFM"},
      {ERR_RESET_CF_ADDRESS, "Fail to erase CF and UFM"},
      {ERR_PROGRAM_PAGE, "Fail to program page"},
      {ERR_PROGRAM_CF_PAGE, "Fail to program configuration flash page"},
      {ERR_PROGRAM_USERCODE, "Fail to program USERCODE"},
      {ERR_READ_USERCODE, "Fail to read USERCODE"},
      {ERR_USERCODE_MISMATCH, "USERCODE doesn't match"},
      {ERR_READ_CF_PAGE, "Fail to read configuration flash page"},
      {ERR_CF_MISMATCH, "CF doesn't match"},
      {ERR_BYPASS, "Fail to bypass"},
      {ERR_RESET_UFM_ADDRESS, "Fail to reset user flash addres"},
      {ERR_PROGRAM_UFM_PAGE, "Fail to program UFM page"},
      {ERR_READ_UFM_PAGE, "Fail to read UFM page"},
      {ERR_UFM_MISMATCH, "UFM doesn't match"},
      {ERR_CHECK_DONE, "Fail to check done flag"},
      {ERR_DONE_DEASSERTED, "The done flag is deassert"},
      {ERR_DISABLE_INTERFACE, "Fail to disable configuration interface"},
      {ERR_REFRESH, "Fail to execute refresh command"},
      {ERR_OPEN_FIRMWARE, "Fail to open Firmware file"},
      {ERR_PARSE_FIRMWARE, "Fail to Parse Firmware file"},
      {ERR_CLOSE_FIRMWARE, "Fail to Close Firmware file"},
      {ERR_INIT_DEVICE, "Fail to Init CPLD device"},
  };
  ASSERT_EQ(std::size(table), 35u);
  int expected_code = -250;
  for (const auto& [code, text] : table) {
    EXPECT_EQ(code, expected_code++) << text;
    EXPECT_EQ(Text(static_cast<int16_t>(code)), text);
  }
}

TEST(ResultText, CodesOutsideTheTableAreUnknown) {
  for (int16_t code : {-251, -215, -1, 0, 1, 250, -32768, 32767}) {
    EXPECT_EQ(Text(code), "UNKNOWN ERROR") << code;
  }
}

TEST(ResultText, CopiesTheTerminatorAndLeavesTheRestOfTheBuffer) {
  char buffer[kResultTextBufferSize];
  std::memset(buffer, 'x', sizeof(buffer));
  ResultCodeToText(ERR_TIMEOUT, buffer);
  EXPECT_STREQ(buffer, "Timeout");
  for (size_t i = 8; i < sizeof(buffer); ++i) EXPECT_EQ(buffer[i], 'x') << i;

  char zeroed[kResultTextBufferSize] = {};
  ResultCodeToText(ERR_TIMEOUT, zeroed);
  for (size_t i = 8; i < sizeof(zeroed); ++i) EXPECT_EQ(zeroed[i], 0) << i;
}

}  // namespace
