// Device command layer: the I2C binding, the one transfer routine every command goes through,
// the device's configuration commands and the decoding of its status register.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "board_i2c.h"
#include "cpld_internal.h"
#include "diagnostic.h"
#include "fusekit.h"

namespace {

constexpr char kDiagnosticModule[] = "cpld";

// The binding: every transfer names the bus and the slave afresh.
char bound_device_path[16];
uint8_t bound_slave_address;

// Status register bits, host order.
constexpr uint32_t kKeyProtectionFlag = 0x00000020;
constexpr uint32_t kOtpFlags = 0x00020040;
constexpr uint32_t kDoneFlag = 0x00000100;
constexpr uint32_t kBusyFlag = 0x00001000;
constexpr uint32_t kFailFlag = 0x00002000;
constexpr uint32_t kRefreshErrorField = 0x03800000;
constexpr uint8_t kBusyByteFlag = 0x80;

constexpr int kRowSize = ISP_ROW_SIZE;

// Sends a command that reads nothing back.
int SendCommand(const uint8_t* p_command, int length) {
  return CommandTransfer(WriteOnlyTransfer, p_command, nullptr, length, 0);
}

// Sends a four-byte command and reads its answer in the same transaction.
int QueryCommand(const uint8_t (&command)[4], void* p_answer, int answer_length) {
  return CommandTransfer(I2CRestarRead, command, static_cast<uint8_t*>(p_answer), 4,
                         answer_length);
}

// Reads the status register into `status` for a decoder; reports a failed read.
int ReadStatusForDecoder(uint32_t* p_status) {
  const int result = ReadStatusRegister(p_status);
  if (result < 0) DIAGNOSTIC("Fail to read status register");
  return result;
}

}  // namespace

extern "C" {

// ---- Binding and transport ---------------------------------------------------------------------

FUSEKIT_API int InitI2CDriver(int bus, int slave_address) {
  std::snprintf(bound_device_path, sizeof(bound_device_path), "/dev/i2c%d", bus);
  bound_slave_address = static_cast<uint8_t>(slave_address);
  return 0;
}

FUSEKIT_API int InitCPLDDevice(int bus, int slave_address) {
  return InitI2CDriver(bus, slave_address) < 0 ? ERR_INIT_DEVICE : 0;
}

FUSEKIT_API int I2CMasterWrite(const uint8_t* p_data, int length) {
  return i2c_master_write(bound_device_path, bound_slave_address, p_data, length);
}

FUSEKIT_API int I2CMasterRead(uint8_t* p_data, int length) {
  return i2c_master_read(bound_device_path, bound_slave_address, p_data, length);
}

FUSEKIT_API int I2CRestarRead(const uint8_t* p_write, uint8_t* p_read, int write_length,
                              int read_length) {
  return i2c_writeread(bound_device_path, bound_slave_address, p_write, p_read, write_length,
                       read_length);
}

int CommandTransfer(TransferRoutine routine, const uint8_t* p_write, uint8_t* p_read,
                    int write_length, int read_length) {
  const int result = routine(p_write, p_read, write_length, read_length);
  if (result < 0) {
    DIAGNOSTIC("I2C bus IO error, code: 0x%x", static_cast<unsigned>(result));
    return result;
  }
  return 0;
}

int WriteOnlyTransfer(const uint8_t* p_write, uint8_t* /*p_read*/, int write_length,
                      int /*read_length*/) {
  return I2CMasterWrite(p_write, write_length);
}

void SwapBytes(uint8_t* p_data, int size) {
  if (size != 2 && size != 4 && size != 8) {
    DIAGNOSTIC("size %d is not basic data type", size);
    return;
  }
  for (int low = 0, high = size - 1; low < high; ++low, --high) {
    const uint8_t byte = p_data[low];
    p_data[low] = p_data[high];
    p_data[high] = byte;
  }
}

// ---- Commands ----------------------------------------------------------------------------------

FUSEKIT_API int GetDeviceID(uint32_t* p_device_id) {
  if (p_device_id == nullptr) {
    DIAGNOSTIC("p_device_id is NULL");
    return -1;
  }
  static constexpr uint8_t kCommand[4] = {0xE0, 0x00, 0x00, 0x00};
  if (QueryCommand(kCommand, p_device_id, 4) < 0) return -1;
  SwapBytes(reinterpret_cast<uint8_t*>(p_device_id), 4);
  return 0;
}

FUSEKIT_API int IsBusy(uint8_t* p_result) {
  if (p_result == nullptr) {
    DIAGNOSTIC("p_result is NULL");
    return -1;
  }
  *p_result = 0;
  static constexpr uint8_t kCommand[4] = {0xF0, 0x00, 0x00, 0x00};
  uint8_t busy_byte = 0;
  const int result = QueryCommand(kCommand, &busy_byte, 1);
  if (result < 0) return result;
  *p_result = (busy_byte & kBusyByteFlag) != 0 ? 1 : 0;
  return 0;
}

FUSEKIT_API int ReadStatusRegister(uint32_t* p_status_reg) {
  if (p_status_reg == nullptr) {
    DIAGNOSTIC("p_status_reg is NULL");
    return -1;
  }
  static constexpr uint8_t kCommand[4] = {0x3C, 0x00, 0x00, 0x00};
  const int result = QueryCommand(kCommand, p_status_reg, 4);
  if (result < 0) return result;
  SwapBytes(reinterpret_cast<uint8_t*>(p_status_reg), 4);
  return 0;
}

FUSEKIT_API int EnableConfigurationInterfaceTransparentMode(void) {
  static constexpr uint8_t kCommand[3] = {0x74, 0x08, 0x00};
  return SendCommand(kCommand, 3);
}

FUSEKIT_API int ReadFEABITS(uint16_t* p_feabits) {
  if (p_feabits == nullptr) {
    DIAGNOSTIC("p_feabits is NULL");
    return -1;
  }
  static constexpr uint8_t kCommand[4] = {0xFB, 0x00, 0x00, 0x00};
  const int result = QueryCommand(kCommand, p_feabits, 2);
  if (result < 0) return result;
  SwapBytes(reinterpret_cast<uint8_t*>(p_feabits), 2);
  return 0;
}

FUSEKIT_API int EraseCFAndUFM(void) {
  static constexpr uint8_t kCommand[4] = {0x0E, 0x0C, 0x00, 0x00};
  return SendCommand(kCommand, 4);
}

FUSEKIT_API int ResetConfigurationFlashAddress(void) {
  static constexpr uint8_t kCommand[4] = {0x46, 0x00, 0x00, 0x00};
  return SendCommand(kCommand, 4);
}

FUSEKIT_API int ProgramPage(const uint8_t* p_page) {
  if (p_page == nullptr) {
    DIAGNOSTIC("p_page is NULL");
    return -1;
  }
  uint8_t command[4 + kRowSize] = {0x70, 0x00, 0x00, 0x00};
  std::memcpy(command + 4, p_page, kRowSize);
  return SendCommand(command, sizeof(command));
}

FUSEKIT_API int ProgramUSERCODE(uint32_t usercode) {
  const uint8_t command[8] = {0xC2,
                              0x00,
                              0x00,
                              0x00,
                              static_cast<uint8_t>(usercode),
                              static_cast<uint8_t>(usercode >> 8),
                              static_cast<uint8_t>(usercode >> 16),
                              static_cast<uint8_t>(usercode >> 24)};
  return SendCommand(command, sizeof(command));
}

FUSEKIT_API int Refresh(void) {
  static constexpr uint8_t kCommand[3] = {0x79, 0x00, 0x00};
  const int result = SendCommand(kCommand, 3);
  if (result < 0) return result;
  sleep(1);
  return 0;
}

FUSEKIT_API int ReadUSERCODE(uint32_t* p_usercode) {
  if (p_usercode == nullptr) {
    DIAGNOSTIC("p_usercode is NULL");
    return -1;
  }
  static constexpr uint8_t kCommand[4] = {0xC0, 0x00, 0x00, 0x00};
  return QueryCommand(kCommand, p_usercode, 4);
}

FUSEKIT_API int ReadOnePage(uint8_t* p_page) {
  if (p_page == nullptr) {
    DIAGNOSTIC("p_page is NULL");
    return -1;
  }
  static constexpr uint8_t kCommand[4] = {0x73, 0x00, 0x00, 0x01};
  return QueryCommand(kCommand, p_page, kRowSize);
}

FUSEKIT_API int Bypass(void) {
  static constexpr uint8_t kCommand[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  return SendCommand(kCommand, 4);
}

FUSEKIT_API int ResetUFMAddress(void) {
  static constexpr uint8_t kCommand[4] = {0x47, 0x00, 0x00, 0x00};
  return SendCommand(kCommand, 4);
}

FUSEKIT_API int ProgramDONE(void) {
  static constexpr uint8_t kCommand[4] = {0x5E, 0x00, 0x00, 0x00};
  return SendCommand(kCommand, 4);
}

FUSEKIT_API int DisableConfigurationInterface(void) {
  static constexpr uint8_t kCommand[3] = {0x26, 0x00, 0x00};
  return SendCommand(kCommand, 3);
}

// ---- Status decoders ---------------------------------------------------------------------------

FUSEKIT_API int IsFail(uint8_t* p_result) {
  if (p_result == nullptr) {
    DIAGNOSTIC("p_result is NULL");
    return -1;
  }
  *p_result = 1;
  uint32_t status = 0;
  const int result = ReadStatusForDecoder(&status);
  if (result < 0) return result;
  if ((status & kBusyFlag) != 0) {
    DIAGNOSTIC("Busy flag is assert when check fail flag");
    *p_result = 1;
  } else {
    *p_result = (status & kFailFlag) != 0 ? 1 : 0;
  }
  return 0;
}

FUSEKIT_API int HasPasswordProtected(uint8_t* p_result) {
  if (p_result == nullptr) {
    DIAGNOSTIC("p_result is NULL");
    return -1;
  }
  uint32_t status = 0;
  const int result = ReadStatusForDecoder(&status);
  if (result < 0) return result;
  *p_result = (status & kKeyProtectionFlag) != 0 ? 1 : 0;
  return 0;
}

FUSEKIT_API int IsEnableOTP(uint8_t* p_result) {
  if (p_result == nullptr) {
    DIAGNOSTIC("p_result is NULL");
    return -1;
  }
  *p_result = 1;
  uint32_t status = 0;
  const int result = ReadStatusForDecoder(&status);
  if (result < 0) return result;
  *p_result = (status & kOtpFlags) != 0 ? 1 : 0;
  return 0;
}

FUSEKIT_API int IsDone(uint8_t* p_result) {
  if (p_result == nullptr) {
    DIAGNOSTIC("p_result is NULL");
    return -1;
  }
  *p_result = 0;
  uint32_t status = 0;
  const int result = ReadStatusForDecoder(&status);
  if (result < 0) return result;
  if ((status & kBusyFlag) != 0) {
    DIAGNOSTIC("Busy flag is assert when check done flag");
    *p_result = 0;
  } else if ((status & kFailFlag) != 0) {
    DIAGNOSTIC("Fail flag is assert when check done flag");
    *p_result = 0;
  } else {
    *p_result = (status & kDoneFlag) != 0 ? 1 : 0;
  }
  return 0;
}

FUSEKIT_API int IsRefreshSuccessful(uint8_t* p_result) {
  if (p_result == nullptr) {
    DIAGNOSTIC("p_result is NULL");
    return -1;
  }
  *p_result = 0;
  uint32_t status = 0;
  const int result = ReadStatusForDecoder(&status);
  if (result < 0) return result;
  if ((status & kBusyFlag) != 0) {
    DIAGNOSTIC("Busy flag is assert when check refresh is successful");
    *p_result = 0;
  } else if ((status & kDoneFlag) == 0) {
    DIAGNOSTIC("Done flag is deassert when check refresh is successful");
    *p_result = 0;
  } else {
    *p_result = (status & kRefreshErrorField) == 0 ? 1 : 0;
  }
  return 0;
}

}  // extern "C"
