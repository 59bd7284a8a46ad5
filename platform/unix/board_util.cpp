#include "board_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

extern "C" int touch(const char* path) {
  if (path == nullptr) return -EINVAL;
  const int fd = open(path, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) return -errno;
  const int result = futimens(fd, nullptr) == 0 ? 0 : -errno;
  close(fd);
  return result;
}
