// A program linked against libfusekit (and through it libboardi2c), run by the drop-in tests with
// LD_LIBRARY_PATH pointing at the simulator's drop-in library.
//   dropin_client id            prints the device ID
//   dropin_client update IMAGE  runs the scripted complete update with a raw image
//   dropin_client verify IMAGE  reads every row back and compares it with the image
// Exit status 0 on success, 1 on a device failure, 2 on a usage or file error.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "fusekit.h"
#include "scripted_update.h"

namespace {

constexpr size_t kRowBytes = static_cast<size_t>(ISP_ROW_COUNT) * ISP_ROW_SIZE;

std::unique_ptr<IspInfo> ReadImage(const char* path) {
  std::ifstream file(path, std::ios::binary);
  auto image = std::make_unique<IspInfo>();
  std::memset(image.get(), 0, sizeof(IspInfo));
  file.read(reinterpret_cast<char*>(image->cf_rows), sizeof(image->cf_rows));
  file.read(reinterpret_cast<char*>(image->ufm_rows), sizeof(image->ufm_rows));
  uint8_t usercode[4] = {};
  file.read(reinterpret_cast<char*>(usercode), 4);
  if (!file || file.peek() != EOF) return nullptr;
  image->usercode = usercode[0] | usercode[1] << 8 | usercode[2] << 16 |
                    static_cast<uint32_t>(usercode[3]) << 24;
  static_assert(sizeof(image->cf_rows) + sizeof(image->ufm_rows) == kRowBytes, "raw image rows");
  return image;
}

int Verify(const IspInfo& image) {
  if (EnableConfigurationInterfaceTransparentMode() < 0) return 1;
  uint8_t row[ISP_ROW_SIZE];
  if (ResetConfigurationFlashAddress() < 0) return 1;
  for (int r = 0; r < ISP_CF_ROW_COUNT; ++r) {
    if (ReadOnePage(row) < 0) return 1;
    if (std::memcmp(row, image.cf_rows[r], sizeof(row)) != 0) {
      std::printf("differs at row %d\n", r);
      return 1;
    }
  }
  if (ResetUFMAddress() < 0) return 1;
  for (int r = 0; r < ISP_UFM_ROW_COUNT; ++r) {
    if (ReadOnePage(row) < 0) return 1;
    if (std::memcmp(row, image.ufm_rows[r], sizeof(row)) != 0) {
      std::printf("differs at row %d\n", ISP_CF_ROW_COUNT + r);
      return 1;
    }
  }
  std::printf("holds image\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  InitCPLDDevice(5, 0x40);
  const std::string command = argv[1];
  if (command == "id" && argc == 2) {
    uint32_t id = 0;
    if (GetDeviceID(&id) < 0) return 1;
    std::printf("id 0x%08x\n", id);
    return 0;
  }
  if ((command == "update" || command == "verify") && argc == 3) {
    const auto image = ReadImage(argv[2]);
    if (!image) return 2;
    if (command == "verify") return Verify(*image);
    std::string failure;
    if (!sim::RunScriptedUpdate(*image, &failure)) {
      std::printf("failed: %s\n", failure.c_str());
      return 1;
    }
    std::printf("ok\n");
    return 0;
  }
  return 2;
}
