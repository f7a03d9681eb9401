// A PS2 save's own icon, read from the card: its "ICON.SYS" gives the look
// and names the list icon's model file, which is read from the same folder.
// When anything is missing or refused the caller shows the generic picture
// ("PS2ICO.bmp") instead; `error` says why.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "common/bytes.h"
#include "formats/iconsys.h"
#include "formats/ps2icon.h"
#include "manager/iconrender.h"

namespace travosk::manager {

class TPS2MFMSYS;

// Icon model files bigger than this are refused unread: real ones stay far
// below it, and the whole file is held in memory.
inline constexpr uint32_t kMaxIconFileBytes = 1u << 20;

struct SaveIcon {
  formats::PS2Icon icon;
  formats::IconLook look;
};

// The list icon (kind 1) from the bytes of "ICON.SYS" and of the model file.
[[nodiscard]] std::optional<SaveIcon> ReadSaveIcon(Bytes icon_sys, Bytes model, std::string& error);

// Finds "ICON.SYS" among a save folder's files (any case), reads it and the
// list icon it names, and parses both.
[[nodiscard]] std::optional<SaveIcon> LoadSaveIcon(TPS2MFMSYS& mgr,
                                                   const std::vector<card::TfileIP>& files,
                                                   std::string& error);

// A file's data, read from the card into memory; false when its clusters
// cannot be read in full or it is bigger than `limit`.
[[nodiscard]] bool ReadCardFile(TPS2MFMSYS& mgr, const card::TfileIP& file, uint32_t limit,
                                std::vector<uint8_t>& data);

// The generic picture: "PS2ICO.bmp" (a 32 × 32 bitmap of 8 bits a pixel, as
// the supplied file is written) decoded to RGBA; nothing when the bytes are
// not such a bitmap.
[[nodiscard]] std::optional<RgbaImage> DecodeGenericIcon(Bytes bitmap);

}  // namespace travosk::manager
