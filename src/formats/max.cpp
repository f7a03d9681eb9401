#include "formats/max.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/errors.h"
#include "formats/iconsys.h"
#include "formats/lzari.h"

namespace travosk::formats {

namespace {

// Header.
constexpr size_t kMagic = 0x00;       // "Ps2PowerSave", 12 bytes
constexpr size_t kCrc = 0x0C;         // u32: CRC32 of the whole file with this field zero
constexpr size_t kDirName = 0x10;     // the save folder's name, 32 bytes, NUL padded
constexpr size_t kTitle = 0x30;       // the save's title, 32 bytes, NUL padded
constexpr size_t kCompressed = 0x50;  // u32: bytes from kLength to the end of the file
constexpr size_t kFileCount = 0x54;   // u32
constexpr size_t kLength = 0x58;      // u32: uncompressed body length; the stream follows
constexpr size_t kHeaderBytes = 0x5C;
constexpr size_t kNameBytes = 32;
constexpr char kMagicText[] = "Ps2PowerSave";

// Body record: u32 length, 32-byte name, the bytes; the next record starts
// where its offset + 8 is a multiple of 16.
constexpr size_t kRecordHead = 4 + kNameBytes;
size_t Aligned(size_t at) {
  return (at + 8 + 15) / 16 * 16 - 8;
}

std::array<uint32_t, 256> CrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}

std::string TitleOf(const Ps2Save& save) {
  for (const auto& f : save.files) {
    if (f.Name() != "icon.sys" || f.Length() < iconsys::kTitle + iconsys::kTitleBytes) continue;
    // The two lines of the title, joined by one space.
    auto [first, second] = IconSysTitleLines(f.Content());
    if (first.empty() || second.empty()) return first + second;
    while (!first.empty() && first.back() == ' ') first.pop_back();
    while (!second.empty() && second.front() == ' ') second.erase(0, 1);
    return first.empty() || second.empty() ? first + second : first + " " + second;
  }
  return {};
}

void PutName(std::vector<uint8_t>& out, size_t at, const std::string& name) {
  std::copy_n(name.begin(), std::min(name.size(), kNameBytes), out.begin() + at);
}

}  // namespace

uint32_t Crc32(Bytes bytes) {
  static const auto table = CrcTable();
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool LooksLikeMax(Bytes file) {
  return file.size() >= 12 && std::memcmp(file.data(), kMagicText, 12) == 0;
}

Ps2Save ReadMax(Bytes file, const std::string& source, std::time_t when) {
  if (!LooksLikeMax(file)) throw FormatError("the file is not a .max save");
  if (file.size() < kHeaderBytes) throw InOutError(source, "the .max header ends early");
  const uint64_t compressed = load_le32(file, kCompressed);
  if (kLength + compressed != file.size())
    throw FormatError("the .max file's length does not match its header");
  std::vector<uint8_t> check(file.begin(), file.end());
  std::fill_n(check.begin() + kCrc, 4, 0);
  if (Crc32(check) != load_le32(file, kCrc)) throw FormatError("the .max file fails its CRC check");

  const uint32_t count = load_le32(file, kFileCount);
  const uint64_t length = load_le32(file, kLength);
  // Each file takes at least its record head: a count the body cannot hold is
  // refused before anything is inflated.
  if (length > kMaxSaveBytes) throw FormatError("the .max body claims more than a card holds");
  if (uint64_t{count} * kRecordHead > length)
    throw FormatError("the .max header announces more files than its body can hold");
  const std::vector<uint8_t> body = LzariDecompress(file.subspan(kHeaderBytes), length);

  const std::string name = load_cstr(file, kDirName, kNameBytes);
  if (name.empty() || name == "." || name == "..")
    throw FormatError("the .max file names no save folder");
  Ps2Save save = MakeSave(name, when);
  size_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (body.size() - at < kRecordHead) throw FormatError("the .max body ends inside a file entry");
    const uint32_t size = load_le32(body, at);
    const std::string file_name = load_cstr(body, at + 4, kNameBytes);
    if (file_name.empty() || file_name == "." || file_name == "..")
      throw FormatError("the .max body holds a file without a usable name");
    at += kRecordHead;
    if (size > body.size() - at)
      throw FormatError("file \"" + file_name + "\" runs past the .max body");
    AddFile(save,
            MakeFile(MakeEntry(kFileMode, size, file_name, when), Bytes(body).subspan(at, size)));
    at = std::min(Aligned(at + size), body.size());
  }
  return save;
}

std::vector<uint8_t> WriteMax(const Ps2Save& save) {
  std::vector<uint8_t> body;
  for (const auto& f : save.files) {
    body.resize(body.size() + kRecordHead, 0);
    store_le32(body, body.size() - kRecordHead, f.Length());
    PutName(body, body.size() - kNameBytes, f.Name());
    const Bytes content = f.Content();
    body.insert(body.end(), content.begin(), content.end());
    body.resize(Aligned(body.size()), 0);
  }
  const std::vector<uint8_t> stream = LzariCompress(body);

  std::vector<uint8_t> out(kHeaderBytes, 0);
  std::copy_n(kMagicText, 12, out.begin() + kMagic);
  PutName(out, kDirName, save.Name());
  PutName(out, kTitle, TitleOf(save));
  store_le32(out, kCompressed, static_cast<uint32_t>(stream.size() + 4));
  store_le32(out, kFileCount, static_cast<uint32_t>(save.files.size()));
  store_le32(out, kLength, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), stream.begin(), stream.end());
  store_le32(out, kCrc, Crc32(out));
  return out;
}

}  // namespace travosk::formats
