#include "cli/png.h"

#include <png.h>

#include <cstdlib>
#include <memory>

#include "common/atomic_file.h"
#include "common/errors.h"

namespace travosk::cli {

void WritePng(const std::string& path, const manager::RgbaImage& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGBA;
  const png_int_32 stride = image.width * 4;
  png_alloc_size_t size = 0;
  // The first call measures, the second writes.
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), stride, nullptr))
    throw InOutError(path, std::string("cannot encode the picture: ") + png.message);
  std::unique_ptr<char[]> bytes(new char[size]);
  if (!png_image_write_to_memory(&png, bytes.get(), &size, 0, image.pixels.data(), stride, nullptr))
    throw InOutError(path, std::string("cannot encode the picture: ") + png.message);
  AtomicFile file(path);
  file.stream().write(bytes.get(), static_cast<std::streamsize>(size));
  file.Commit();
}

}  // namespace travosk::cli
