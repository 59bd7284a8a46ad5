// libFuzzer target for ParserJEDFile: each input becomes the fuse file, parsed into a record of
// its own heap block so that AddressSanitizer sees any write outside it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fusekit.h"

namespace {

std::string path;
int fd = -1;
IspInfo* record = nullptr;

void RemoveFile() {
  if (!path.empty()) unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // One file for every input, in memory where possible.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/jed_fuzz.XXXXXX";
  fd = mkstemp(&pattern[0]);
  if (fd < 0) {
    std::perror("mkstemp");
    std::abort();
  }
  path = pattern;
  std::atexit(RemoveFile);
  record = static_cast<IspInfo*>(std::malloc(sizeof(IspInfo)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    std::perror("writing the fuse file");
    std::abort();
  }
  const int result = ParserJEDFile(path.c_str(), record);
  if (result != 0 && result != ERR_PARSE_FIRMWARE) {
    std::fprintf(stderr, "unexpected result %d\n", result);
    std::abort();
  }
  return 0;
}
