#include "formats/ps1save.h"

#include <algorithm>

#include "common/errors.h"

namespace travosk::formats {

bool LooksLikeMcs(Bytes file) {
  return file.size() >= 2 && file[ps1frame::kState] == ps1frame::kFirst && file[1] == 0;
}

Ps1Save ReadMcs(Bytes file, const std::string& source) {
  const uint64_t blocks = file.size() >= kPs1FrameBytes + kPs1BlockBytes
                              ? (file.size() - kPs1FrameBytes) / kPs1BlockBytes
                              : 0;
  if (blocks == 0) throw FormatError("the file holds no whole save block");
  if (blocks > kPs1MaxBlocks) throw FormatError("the file holds more blocks than a card has");
  // The state of a save's first block and a zero byte after it.
  if (!LooksLikeMcs(file)) throw FormatError("the file is not a PS1 save file");
  const int64_t declared = static_cast<int32_t>(load_le32(file, ps1frame::kSize));
  if (declared > static_cast<int64_t>(kPs1BlockBytes * blocks))
    throw InOutError(source, "the save file holds fewer blocks than its size needs");
  Ps1Save save;
  std::copy_n(file.begin(), kPs1FrameBytes, save.frame.begin());
  const Bytes data = file.subspan(kPs1FrameBytes, static_cast<size_t>(blocks * kPs1BlockBytes));
  save.blocks.assign(data.begin(), data.end());
  return save;
}

std::vector<uint8_t> WriteMcs(const Ps1Save& save) {
  std::vector<uint8_t> out(save.frame.begin(), save.frame.end());
  out.insert(out.end(), save.blocks.begin(), save.blocks.end());
  return out;
}

}  // namespace travosk::formats
