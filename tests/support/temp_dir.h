// A fresh directory for a test's files, removed with them when it goes away. It lies in memory
// (/dev/shm) where that is available, as the board's /var does: tests that rewrite a progress
// file thousands of times would otherwise spend seconds on disk metadata.
#ifndef FUSEKIT_TEST_TEMP_DIR_H
#define FUSEKIT_TEST_TEMP_DIR_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <string>
#include <unistd.h>

class TempDir {
 public:
  TempDir() {
    const bool in_memory = access("/dev/shm", W_OK | X_OK) == 0;
    std::string pattern = (in_memory ? std::string("/dev/shm/") : testing::TempDir()) +
                          "fusekit_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole content of a file, or "<missing>" when it cannot be opened.
inline std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

#endif
