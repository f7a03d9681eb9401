// PNG files of RGBA pictures, written through libpng and renamed into place
// only when complete.
#pragma once

#include <string>

#include "manager/iconrender.h"

namespace travosk::cli {

// Throws InOutError when the file cannot be written.
void WritePng(const std::string& path, const manager::RgbaImage& image);

}  // namespace travosk::cli
