/* libfusekit: reprograms the configuration flash, USERCODE and user flash of the CPLD over I2C.
 *
 * Call order: bind the device (InitCPLDDevice), read a fuse file into an IspInfo record
 * (ParserJEDFile), then program it (ISPFull). Every function returns 0 on success and a
 * negative value on failure; the update's result codes are in result_code.h. The library keeps
 * process-wide state and is not thread-safe: one caller, one ISPFull at a time. */
#ifndef FUSEKIT_H
#define FUSEKIT_H

#include <stddef.h>
#include <stdint.h>

#include "result_code.h"

#if defined(FUSEKIT_BUILDING)
#define FUSEKIT_API __attribute__((visibility("default")))
#else
#define FUSEKIT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Firmware image record ---------------------------------------------------------------- */

enum {
  ISP_ROW_SIZE = 16,
  ISP_CF_ROW_COUNT = 3198,
  ISP_UFM_ROW_COUNT = 640,
  ISP_ROW_COUNT = ISP_CF_ROW_COUNT + ISP_UFM_ROW_COUNT
};

/* One fuse file's content, converted. CF and UFM rows lie back to back: row r of the fuse file
 * is cf_rows[r] below ISP_CF_ROW_COUNT and ufm_rows[r - ISP_CF_ROW_COUNT] from there. */
typedef struct IspInfo {
  uint16_t feabits;
  uint8_t cf_rows[ISP_CF_ROW_COUNT][ISP_ROW_SIZE];
  uint8_t ufm_rows[ISP_UFM_ROW_COUNT][ISP_ROW_SIZE];
  uint32_t usercode;
  int32_t default_fuse_state;
  uint32_t fuse_count;
} IspInfo;

/* ---- Binding and bus primitives ------------------------------------------------------------- */

FUSEKIT_API int InitI2CDriver(int bus, int slave_address);
FUSEKIT_API int InitCPLDDevice(int bus, int slave_address);
FUSEKIT_API int I2CMasterWrite(const uint8_t* p_data, int length);
FUSEKIT_API int I2CMasterRead(uint8_t* p_data, int length);
FUSEKIT_API int I2CRestarRead(const uint8_t* p_write, uint8_t* p_read, int write_length,
                              int read_length);

/* ---- Device commands and status decoding ---------------------------------------------------- */

FUSEKIT_API int GetDeviceID(uint32_t* p_device_id);
FUSEKIT_API int IsBusy(uint8_t* p_result);
FUSEKIT_API int ReadStatusRegister(uint32_t* p_status_reg);
FUSEKIT_API int IsFail(uint8_t* p_result);
FUSEKIT_API int HasPasswordProtected(uint8_t* p_result);
FUSEKIT_API int EnableConfigurationInterfaceTransparentMode(void);
FUSEKIT_API int IsEnableOTP(uint8_t* p_result);
FUSEKIT_API int ReadFEABITS(uint16_t* p_feabits);
FUSEKIT_API int EraseCFAndUFM(void);
FUSEKIT_API int ResetConfigurationFlashAddress(void);
FUSEKIT_API int ProgramPage(const uint8_t* p_page);
FUSEKIT_API int ProgramUSERCODE(uint32_t usercode);
FUSEKIT_API int Refresh(void);
FUSEKIT_API int ReadUSERCODE(uint32_t* p_usercode);
FUSEKIT_API int ReadOnePage(uint8_t* p_page);
FUSEKIT_API int Bypass(void);
FUSEKIT_API int ResetUFMAddress(void);
FUSEKIT_API int ProgramDONE(void);
FUSEKIT_API int IsDone(uint8_t* p_result);
FUSEKIT_API int DisableConfigurationInterface(void);
FUSEKIT_API int IsRefreshSuccessful(uint8_t* p_result);

/* ---- Programming sequence ------------------------------------------------------------------- */

FUSEKIT_API int ISPFull(const IspInfo* p_isp_info, const char* progress_file_path);
FUSEKIT_API void PrintISPInfo(const IspInfo* p_isp_info);

/* ---- Fuse file reader ----------------------------------------------------------------------- */

typedef enum JEDECFileFieldType {
  JEDECFileFieldTypeNote = 0,
  JEDECFileFieldTypeDefaultFuseState = 1,
  JEDECFileFieldTypeFuseCount = 2,
  JEDECFileFieldTypeFuseList = 3,
  JEDECFileFieldTypeUserCode = 4,
  JEDECFileFieldTypeFeatureRow = 5,
  JEDECFileFieldTypeStartOfText = 6,
  JEDECFileFieldTypeEndOfText = 7
} JEDECFileFieldType;

enum { JEDEC_FILE_FIELD_TYPE_COUNT = 8 };

/* The open fuse file and its current line; defined inside the reader. */
typedef struct JedFile JedFile;
typedef struct JedLine JedLine;

typedef int (*JEDECFileFieldHandler)(JedFile* p_jed_file, JedLine* p_line, IspInfo* p_isp_info);

typedef struct JEDECFileFieldEntry {
  JEDECFileFieldType type;
  const char* syntax;
  JEDECFileFieldHandler handler;
  size_t syntax_length;
} JEDECFileFieldEntry;

typedef enum JEDECFieldValueFormat {
  JEDECFieldValueFormatAscii = 0,
  JEDECFieldValueFormatHex = 1,
  JEDECFieldValueFormatBinary = 2,
  JEDECFieldValueFormatNone = 3
} JEDECFieldValueFormat;

enum { JEDEC_FIELD_VALUE_FORMAT_COUNT = 3 };

typedef struct JEDECFieldValueFormatEntry {
  JEDECFieldValueFormat type;
  const char* characters;
} JEDECFieldValueFormatEntry;

FUSEKIT_API extern const char JEDECFileFieldTypeStartOfTextFieldSyntax[2];
FUSEKIT_API extern const char JEDECFileFieldTypeEndOfTextFieldSyntax[2];
FUSEKIT_API extern JEDECFileFieldEntry jedec_file_format_table[JEDEC_FILE_FIELD_TYPE_COUNT];
FUSEKIT_API extern JEDECFieldValueFormatEntry
    jedec_file_field_value_format_table[JEDEC_FIELD_VALUE_FORMAT_COUNT];

FUSEKIT_API int ParserJEDFile(const char* jed_file_path, IspInfo* p_isp_info);

/* ---- Progress file -------------------------------------------------------------------------- */

FUSEKIT_API int InitUpdateProgress(const char* progress_file_path, uint32_t total_steps);
FUSEKIT_API int UpdateProgress(uint32_t progress);
FUSEKIT_API int FishOneStepAndUpdateProgress(void);
FUSEKIT_API int ResetProgress(void);
FUSEKIT_API int ReadProgress(uint8_t* p_progress);

#ifdef __cplusplus
}
#endif

#endif
