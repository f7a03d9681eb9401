// travosk-mkdata FOLDER [ICON-NAME]: writes the supplied files and the demo
// cards, and with an icon name the program's desktop icons.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "common/atomic_file.h"
#include "mkdata.h"

namespace travosk::mkdata {

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  AtomicFile out(path);
  out.stream().write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
  out.Commit();
}

void WriteGenericIcon(const std::string& folder) {
  WriteFile(folder + "/PS2ICO.bmp", DrawGenericIcon());
}

}  // namespace travosk::mkdata

int main(int argc, char** argv) {
  using namespace travosk::mkdata;
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: travosk-mkdata FOLDER [ICON-NAME]\n");
    return 2;
  }
  const std::string folder = argv[1];
  try {
    std::filesystem::create_directories(folder);
    WriteGenericIcon(folder);
    WritePCFormatImages(folder);
    WriteDemoPS1(folder);
    WriteDemoPS2(folder);
    WriteDemoSmartMedia(folder);
    if (argc == 3) WriteAppIcons(folder, argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "travosk-mkdata: %s\n", e.what());
    return 1;
  }
  return 0;
}
