// The layout of the records and tables that cross the library's boundary, checked at compile
// time. Programs built against fusekit.h share IspInfo and the exported tables with the library
// byte for byte, so a change in size or offset breaks every caller already built: it must be a
// deliberate change of the interface, never a side effect. IspInfo is the same on every target;
// the table entries hold pointers and scale with the pointer size (4 on 32-bit ARM, 8 on x86-64).
#include <stddef.h>

#include "fusekit.h"

namespace {

// IspInfo: no pointers, alignment of its 32-bit members, padding only before usercode.
static_assert(alignof(IspInfo) == 4, "IspInfo alignment");
static_assert(offsetof(IspInfo, feabits) == 0, "IspInfo::feabits offset");
static_assert(offsetof(IspInfo, cf_rows) == 2, "IspInfo::cf_rows offset");
static_assert(offsetof(IspInfo, ufm_rows) == 51170, "IspInfo::ufm_rows offset");
static_assert(offsetof(IspInfo, usercode) == 61412, "IspInfo::usercode offset");
static_assert(offsetof(IspInfo, default_fuse_state) == 61416,
              "IspInfo::default_fuse_state offset");
static_assert(offsetof(IspInfo, fuse_count) == 61420, "IspInfo::fuse_count offset");
static_assert(sizeof(IspInfo) == 61424, "IspInfo size");
// CF and UFM rows form one array of rows without a gap.
static_assert(offsetof(IspInfo, ufm_rows) ==
                  offsetof(IspInfo, cf_rows) + ISP_CF_ROW_COUNT * ISP_ROW_SIZE,
              "UFM rows follow the CF rows directly");

// The enumerations in the table entries are int-sized on every target.
constexpr size_t kPointer = sizeof(void*);
static_assert(sizeof(JEDECFileFieldType) == 4, "JEDECFileFieldType size");
static_assert(sizeof(JEDECFieldValueFormat) == 4, "JEDECFieldValueFormat size");
static_assert(sizeof(size_t) == kPointer, "size_t is pointer-sized");
static_assert(sizeof(JEDECFileFieldHandler) == kPointer, "handler is pointer-sized");

static_assert(offsetof(JEDECFileFieldEntry, type) == 0, "JEDECFileFieldEntry::type offset");
static_assert(offsetof(JEDECFileFieldEntry, syntax) == kPointer,
              "JEDECFileFieldEntry::syntax offset");
static_assert(offsetof(JEDECFileFieldEntry, handler) == 2 * kPointer,
              "JEDECFileFieldEntry::handler offset");
static_assert(offsetof(JEDECFileFieldEntry, syntax_length) == 3 * kPointer,
              "JEDECFileFieldEntry::syntax_length offset");
static_assert(sizeof(JEDECFileFieldEntry) == 4 * kPointer, "JEDECFileFieldEntry size");

static_assert(offsetof(JEDECFieldValueFormatEntry, type) == 0,
              "JEDECFieldValueFormatEntry::type offset");
static_assert(offsetof(JEDECFieldValueFormatEntry, characters) == kPointer,
              "JEDECFieldValueFormatEntry::characters offset");
static_assert(sizeof(JEDECFieldValueFormatEntry) == 2 * kPointer,
              "JEDECFieldValueFormatEntry size");

// The exported data: sizes as the dynamic symbol table records them.
static_assert(sizeof(jedec_file_format_table) == 8 * sizeof(JEDECFileFieldEntry),
              "jedec_file_format_table holds 8 entries");
static_assert(sizeof(jedec_file_field_value_format_table) ==
                  3 * sizeof(JEDECFieldValueFormatEntry),
              "jedec_file_field_value_format_table holds 3 entries");
static_assert(sizeof(JEDECFileFieldTypeStartOfTextFieldSyntax) == 2, "STX keyword size");
static_assert(sizeof(JEDECFileFieldTypeEndOfTextFieldSyntax) == 2, "ETX keyword size");

}  // namespace
