#include "formats/images.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "card/layout.h"
#include "common/errors.h"
#include "common/page.h"
#include "formats/save.h"
#include "sim/ecc.h"

namespace travosk::formats {

namespace {

constexpr uint64_t kPageBytes = page::kBytes;
constexpr uint64_t kDataPageBytes = page::kDataBytes;
constexpr uint64_t kPagesPerBlock = 16;
constexpr uint64_t kGmeHeader = 3904;
constexpr uint64_t kVgsHeader = 64;
constexpr uint64_t kVmpHeader = 0x80;
// A PS2 card image opens with its superblock.
constexpr std::string_view kPs2Magic = card::superblock::kMagic;

bool Starts(Bytes head, std::string_view magic) {
  return head.size() >= magic.size() && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
}

// A file's size and its first bytes, as much of them as telling its layout needs.
struct FileHead {
  uint64_t size = 0;
  std::vector<uint8_t> head;
};

FileHead ReadFileHead(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw InOutError(path, std::strerror(errno));
  FileHead file;
  file.size = static_cast<uint64_t>(in.tellg());
  in.seekg(0);
  file.head.resize(static_cast<size_t>(std::min<uint64_t>(file.size, 128)));
  in.read(reinterpret_cast<char*>(file.head.data()),
          static_cast<std::streamsize>(file.head.size()));
  return file;
}

}  // namespace

std::string_view ImageFormatName(ImageFormat f) {
  switch (f) {
    case ImageFormat::kPs2Raw:
      return "PS2 image (528-byte pages)";
    case ImageFormat::kPs2NoEcc:
      return "PS2 image (512-byte pages, no ECC)";
    case ImageFormat::kPs1Raw:
      return "PS1 image (raw)";
    case ImageFormat::kPs1Gme:
      return "PS1 image (DexDrive .gme)";
    case ImageFormat::kPs1Vgs:
      return "PS1 image (.vgs/.mem)";
    case ImageFormat::kPs1Vmp:
      return "PS1 image (PSP .vmp, read only)";
  }
  return "?";
}

std::optional<ImageKind> IdentifyImage(Bytes head, uint64_t size, std::string_view path) {
  const std::string ext = PathExtension(path);
  if (size == kPs1CardImageBytes) return ImageKind{ImageFormat::kPs1Raw, true};
  // DexDrive images open with "123-456-STD"; some tools leave the header
  // zero, so the size and the extension are enough.
  if (size == kPs1CardImageBytes + kGmeHeader && (Starts(head, "123-456-STD") || ext == "gme"))
    return ImageKind{ImageFormat::kPs1Gme, true, kGmeHeader};
  if (size == kPs1CardImageBytes + kVgsHeader &&
      (Starts(head, "VgsM") || ext == "vgs" || ext == "mem"))
    return ImageKind{ImageFormat::kPs1Vgs, true, kVgsHeader};
  // The PSP signs its images; a changed image would need a new signature,
  // which is not made here, so these are opened for reading only.
  if (size == kPs1CardImageBytes + kVmpHeader &&
      (Starts(head, std::string_view("\0PMV", 4)) || ext == "vmp"))
    return ImageKind{ImageFormat::kPs1Vmp, true, kVmpHeader, true, true};
  const ImageKind raw{ImageFormat::kPs2Raw};
  const ImageKind no_ecc{ImageFormat::kPs2NoEcc, false, 0, false};
  // A formatted card says how many pages it has: its superblock's cluster
  // count, two pages a cluster, tells which page size fills the file.
  if (Starts(head, kPs2Magic) && head.size() >= card::superblock::kClusters + 4) {
    const uint64_t pages = uint64_t{load_le32(head, card::superblock::kClusters)} * 2;
    if (pages * kPageBytes == size) return raw;
    if (pages * kDataPageBytes == size) return no_ecc;
  }
  if (size > 0 && size % (kPageBytes * kPagesPerBlock) == 0) return raw;
  if (size > 0 && size % (kDataPageBytes * kPagesPerBlock) == 0) return no_ecc;
  return std::nullopt;
}

std::optional<ImageKind> IdentifyImageFile(const std::string& path) {
  const FileHead file = ReadFileHead(path);
  return IdentifyImage(file.head, file.size, path);
}

bool IsPs2CardSize(uint64_t data_bytes) {
  for (const int mb : kPs2CardSizes)
    if (data_bytes == uint64_t(mb) << 20) return true;
  return false;
}

std::string ImageOpenProblem(const ImageKind& kind, uint64_t size) {
  if (kind.ps1) return {};
  const uint64_t page = kind.spare ? kPageBytes : kDataPageBytes;
  const uint64_t data_bytes = size / page * kDataPageBytes;
  if (size % page == 0 && IsPs2CardSize(data_bytes)) return {};
  const std::string what = data_bytes % (1u << 20) == 0
                               ? std::to_string(data_bytes >> 20) + " MB"
                               : std::to_string(size) + " bytes";
  return "a PS2 image of " + what + " (" + std::string(kind.spare ? "528" : "512") +
         "-byte pages): a PS2 card is 1, 2, 4, 8, 16, 32 or 64 MB, its image that many MB of "
         "512-byte pages (8 MB: 8,388,608 bytes) or of 528-byte pages with ECC (8 MB: 8,650,752 "
         "bytes)";
}

std::string_view ImageFormatShortName(ImageFormat f) {
  switch (f) {
    case ImageFormat::kPs2Raw: return "ps2";
    case ImageFormat::kPs2NoEcc: return "ps2-noecc";
    case ImageFormat::kPs1Raw: return "ps1";
    case ImageFormat::kPs1Gme: return "gme";
    case ImageFormat::kPs1Vgs: return "vgs";
    case ImageFormat::kPs1Vmp: return "vmp";
  }
  return "?";
}

std::optional<ImageFormat> ImageFormatByName(std::string_view name) {
  for (auto f : {ImageFormat::kPs2Raw, ImageFormat::kPs2NoEcc, ImageFormat::kPs1Raw,
                 ImageFormat::kPs1Gme, ImageFormat::kPs1Vgs})
    if (ImageFormatShortName(f) == name) return f;
  return std::nullopt;
}

bool IsPs1Image(ImageFormat f) {
  return f != ImageFormat::kPs2Raw && f != ImageFormat::kPs2NoEcc;
}

std::vector<ImageFormat> ImageFormatsForPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  using F = ImageFormat;
  if (ext == "ps2" || ext == "vm2") return {F::kPs2Raw};
  if (ext == "mc2") return {F::kPs2NoEcc};
  if (ext == "vmc") return {F::kPs2NoEcc, F::kPs1Raw};
  if (ext == "mcd") return {F::kPs1Raw, F::kPs2NoEcc};
  if (ext == "bin") return {F::kPs2NoEcc, F::kPs1Raw};
  if (ext == "mcr" || ext == "mc" || ext == "ddf" || ext == "pss" || ext == "srm" || ext == "vm1")
    return {F::kPs1Raw};
  if (ext == "gme") return {F::kPs1Gme};
  if (ext == "vgs" || ext == "mem") return {F::kPs1Vgs};
  if (ext == "vmp") return {F::kPs1Vmp};
  return {};
}

ImageFormat Ps1ImageFormatForPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  if (ext == "gme") return ImageFormat::kPs1Gme;
  if (ext == "vgs" || ext == "mem") return ImageFormat::kPs1Vgs;
  if (ext == "vmp") return ImageFormat::kPs1Vmp;
  return ImageFormat::kPs1Raw;
}

std::vector<uint8_t> WritePs1Image(Bytes card, ImageFormat format) {
  if (card.size() != kPs1CardImageBytes) throw FormatError("a PS1 card is 131,072 bytes");
  std::vector<uint8_t> out;
  switch (format) {
    case ImageFormat::kPs1Raw:
      break;
    case ImageFormat::kPs1Gme: {
      out.assign(kGmeHeader, 0);
      const std::string_view magic = "123-456-STD";
      std::copy(magic.begin(), magic.end(), out.begin());
      // 0x10..0x14 hold 00 00 01 00 01; then, for the card's sixteen
      // frames 0..15 (its "MC" header and the fifteen directory frames),
      // each frame's first byte at 0x15 and its byte 8 at 0x25. The
      // comments (fifteen of 256 bytes from 0x40) stay empty.
      out[0x12] = 1;
      out[0x14] = 1;
      for (size_t f = 0; f < 16; ++f) {
        out[0x15 + f] = card[f * kPs1FrameBytes];
        out[0x25 + f] = card[f * kPs1FrameBytes + 8];
      }
      break;
    }
    case ImageFormat::kPs1Vgs:
      // "VgsM", then the little-endian words 1, 1, 1 and 512.
      out.assign(kVgsHeader, 0);
      std::copy_n("VgsM", 4, out.begin());
      out[4] = out[8] = out[12] = 1;
      out[17] = 2;
      break;
    case ImageFormat::kPs1Vmp:
      throw FormatError(
          "a PSP .vmp image is signed by its console; this system does not sign one "
          "(write .mcr, .gme or .vgs)");
    default:
      throw FormatError("not a PS1 card image format");
  }
  out.insert(out.end(), card.begin(), card.end());
  return out;
}

std::optional<ImageKind> IdentifyCardImage(Bytes file, std::string_view path) {
  const auto kind = IdentifyImage(file, file.size(), path);
  if (!kind) return std::nullopt;
  if (kind->ps1) {
    const size_t at = static_cast<size_t>(kind->header);
    const bool card = file[at] == 'M' && file[at + 1] == 'C';
    return card || kind->format != ImageFormat::kPs1Raw ? kind : std::nullopt;
  }
  return Starts(file, kPs2Magic) ? kind : std::nullopt;
}

namespace {

// One erase block of `pages` PS2 pages of `from` bytes each, appended to
// `out` in 528-byte pages (`spare`) or 512-byte ones.
void ConvertBlock(const uint8_t* block, size_t pages, size_t from, bool spare,
                  std::vector<uint8_t>& out) {
  const bool erased =
      std::all_of(block, block + pages * from, [](uint8_t b) { return b == 0xFF; });
  for (size_t p = 0; p < pages; ++p) {
    const uint8_t* page = block + p * from;
    out.insert(out.end(), page, page + kDataPageBytes);
    if (!spare) continue;
    if (erased) {
      out.insert(out.end(), kPageBytes - kDataPageBytes, 0xFF);
    } else {
      const auto code = sim::PageSpare(std::span<const uint8_t, 512>(page, kDataPageBytes));
      out.insert(out.end(), code.begin(), code.end());
    }
  }
}

void CheckSameKind(const ImageKind& kind, ImageFormat target) {
  if (kind.ps1 != IsPs1Image(target))
    throw FormatError(kind.ps1 ? "a PS1 card converts only to a PS1 image format"
                               : "a PS2 card converts only to a PS2 image format");
}

}  // namespace

std::vector<uint8_t> ConvertCardImage(Bytes file, const ImageKind& kind, ImageFormat target) {
  CheckSameKind(kind, target);
  if (kind.ps1) return WritePs1Image(file.subspan(static_cast<size_t>(kind.header)), target);
  const bool spare = target == ImageFormat::kPs2Raw;
  const size_t from = kind.spare ? kPageBytes : kDataPageBytes;
  const size_t pages = file.size() / from;
  std::vector<uint8_t> out;
  out.reserve(pages * (spare ? kPageBytes : kDataPageBytes));
  for (size_t p = 0; p < pages; p += kPagesPerBlock)
    ConvertBlock(file.data() + p * from, std::min<size_t>(kPagesPerBlock, pages - p), from, spare,
                 out);
  return out;
}

std::optional<ImageKind> IdentifyPs2CardImageFile(const std::string& path) {
  const FileHead file = ReadFileHead(path);
  const auto kind = IdentifyImage(file.head, file.size, path);
  if (!kind || kind->ps1 || !Starts(file.head, kPs2Magic)) return std::nullopt;
  return kind;
}

void ConvertPs2ImageFile(const std::string& path, const ImageKind& kind, ImageFormat target,
                         std::ostream& out) {
  CheckSameKind(kind, target);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InOutError(path, std::strerror(errno));
  const bool spare = target == ImageFormat::kPs2Raw;
  const size_t from = kind.spare ? kPageBytes : kDataPageBytes;
  // 256 erase blocks at a time: big enough reads, a few MB of memory.
  constexpr size_t kBlocksAtOnce = 256;
  std::vector<uint8_t> chunk(kBlocksAtOnce * kPagesPerBlock * from);
  std::vector<uint8_t> converted;
  converted.reserve(kBlocksAtOnce * kPagesPerBlock * kPageBytes);
  while (in) {
    in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    const size_t pages = got / from;
    converted.clear();
    for (size_t p = 0; p < pages; p += kPagesPerBlock)
      ConvertBlock(chunk.data() + p * from, std::min<size_t>(kPagesPerBlock, pages - p), from,
                   spare, converted);
    out.write(reinterpret_cast<const char*>(converted.data()),
              static_cast<std::streamsize>(converted.size()));
    if (!out) throw InOutError(path, "write failed");
  }
  if (in.bad()) throw InOutError(path, "read failed");
}

}  // namespace travosk::formats
