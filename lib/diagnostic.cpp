#include "diagnostic.h"

#include <cstdarg>
#include <cstdio>

namespace fusekit {

void Report(const char* module, int line, bool line_end, const char* format, ...) {
  flockfile(stderr);
  std::fprintf(stderr, "(%s:%d) ", module, line);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  if (line_end) std::fputc('\n', stderr);
  funlockfile(stderr);
}

}  // namespace fusekit
