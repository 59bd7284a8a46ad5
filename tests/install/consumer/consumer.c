/* A program of an integrator's: built against the installed library, it binds the device and
 * checks that the public headers give the record and the result codes. */
#include <fusekit.h>
#include <stdio.h>

int main(void) {
  static IspInfo record;
  if (InitCPLDDevice(5, 0x40) != 0) return 1;
  if (ERR_INIT_DEVICE != -216 || sizeof(record.cf_rows) != 3198u * 16u) return 2;
  if (PrintISPInfo(&record), ISPFull(NULL, "/tmp/unused") != -1) return 3;
  puts("consumer ok");
  return 0;
}
