// A program for the target that target_program_test starts: it echoes its arguments and one
// environment variable, and tells whether the virtual clock was preloaded into it.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) std::printf("argument %s\n", argv[i]);
  const char* value = std::getenv("TARGET_PROGRAM_PROBE");
  std::printf("variable %s\n", value != nullptr ? value : "(unset)");
  const bool preloaded = dlsym(RTLD_DEFAULT, "virtual_clock_now_us") != nullptr;
  std::printf("virtual clock %s\n", preloaded ? "preloaded" : "absent");
  std::fprintf(stderr, "to standard error\n");
  return argc;
}
