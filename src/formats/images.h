// Card image files: which layout a file holds, told by its size and its
// header's magic first and its extension second. PS2 images hold 528-byte
// pages (512 data + 16 spare) or only the 512 data bytes; PS1 images are the
// card's 131,072 bytes, raw or after a header of the tool that made them.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/page.h"

namespace travosk::formats {

enum class ImageFormat {
  kPs2Raw,    // 528-byte pages, the layout emulators use
  kPs2NoEcc,  // 512-byte pages without spare bytes
  kPs1Raw,    // ".mcr", ".mcd", ".mc", ".bin", ".ddf", ".pss": no header
  kPs1Gme,    // DexDrive: 3,904-byte header
  kPs1Vgs,    // ".vgs"/".mem": 64-byte header
  kPs1Vmp,    // PSP: 128-byte header with a signature (read only)
};

struct ImageKind {
  ImageFormat format;
  bool ps1 = false;
  uint64_t header = 0;     // bytes before the card's own
  bool spare = true;       // PS2 pages carry their 16 spare bytes
  bool read_only = false;  // written back only where its readers would accept it
};

inline constexpr uint64_t kPs1CardImageBytes = 131072;

// "PS2 (528-byte pages)", "DexDrive .gme", ... for listings.
std::string_view ImageFormatName(ImageFormat f);
// `head` is the file's first bytes (at least 128 when the file has them).
// nullopt when the size fits no card image.
std::optional<ImageKind> IdentifyImage(Bytes head, uint64_t size, std::string_view path);
// Reads the head of the file itself; throws InOutError when it cannot.
std::optional<ImageKind> IdentifyImageFile(const std::string& path);

// The sizes of PS2 cards in MB of data, as devices and emulators use them.
inline constexpr int kPs2CardSizes[] = {1, 2, 4, 8, 16, 32, 64};
// True when `data_bytes` (512 a page) is one of those sizes.
bool IsPs2CardSize(uint64_t data_bytes);

// Why a card image of this kind and size cannot be opened as a card, or ""
// when it can: a PS2 image holds a card of one of kPs2CardSizes exactly.
std::string ImageOpenProblem(const ImageKind& kind, uint64_t size);

// Short names of the layouts written here, as options take them: "ps2",
// "ps2-noecc", "ps1", "gme", "vgs" (and "vmp", which is only read).
std::string_view ImageFormatShortName(ImageFormat f);
std::optional<ImageFormat> ImageFormatByName(std::string_view name);
bool IsPs1Image(ImageFormat f);
// The layouts a card image of this name may hold, by its extension, the one
// a new image of that name gets first: ".ps2" and ".vm2" (the PS3's) 528-byte
// pages; ".mc2" 512-byte pages; ".mcd" a PS1 card, or a PS2 card without ECC
// as card emulators keep them; ".bin" and ".vmc" a PS2 card without ECC (disc
// loaders), or a raw PS1 card (PS1 loaders' "SLOT0.VMC"); ".mcr", ".mc",
// ".ddf", ".pss", ".srm", ".vm1" raw PS1; ".gme"; ".vgs" and ".mem"; ".vmp".
// Empty for a name that names no card image.
std::vector<ImageFormat> ImageFormatsForPath(std::string_view path);

// The layout a PS1 card image of this name is written in: ".gme" DexDrive,
// ".vgs"/".mem" VGS, ".vmp" PSP (which is not written), any other raw.
ImageFormat Ps1ImageFormatForPath(std::string_view path);
// A PS1 card's 131,072 bytes as a file of `format`, with the header fields
// the format's readers look at: DexDrive's "123-456-STD", its fixed bytes,
// the copies of the directory frames' states and links and fifteen empty
// comments; VGS's "VgsM" and its four fixed words. Throws FormatError for a
// format that is not a PS1 one written here (.vmp: its signature).
std::vector<uint8_t> WritePs1Image(Bytes card, ImageFormat format);

// The largest card image a file may hold: 64 MB of 528-byte pages.
inline constexpr uint64_t kLargestImageBytes = (uint64_t{64} << 20) / page::kDataBytes * page::kBytes;

// A whole file's bytes as a card image: its layout when it holds a card, else
// nullopt (the file is then taken for a save). A PS2 image opens with its
// superblock's magic; a raw PS1 image with its "MC" header frame, one of a
// PS1 layout with a header by that header or its extension.
std::optional<ImageKind> IdentifyCardImage(Bytes file, std::string_view path);
// The card image `file` of `kind` in layout `target` of the same card kind: a
// PS1 card under the header `target` gives it (WritePs1Image); a PS2 card's
// pages with or without their spare bytes. Spare bytes written are made
// afresh from each page's data, the page's ECC; the pages of an erased block
// (all 0xFF) keep erased spare bytes, as flash does, while a page written
// with 0xFF among data has its code. Throws FormatError for a target this
// card kind cannot be written in.
std::vector<uint8_t> ConvertCardImage(Bytes file, const ImageKind& kind, ImageFormat target);

// The layout of the PS2 card image at `path`, told by its head and size,
// without reading it whole; nullopt for anything else. Throws InOutError
// when the file cannot be read.
std::optional<ImageKind> IdentifyPs2CardImageFile(const std::string& path);
// ConvertCardImage of a PS2 card image file, read and written an erase block
// at a time: memory stays a few MB whatever the card's size. Throws
// InOutError when a read or a write fails, FormatError as ConvertCardImage.
void ConvertPs2ImageFile(const std::string& path, const ImageKind& kind, ImageFormat target,
                         std::ostream& out);

}  // namespace travosk::formats
