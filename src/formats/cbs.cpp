#include "formats/cbs.h"

#include <zlib.h>

#include <array>
#include <cstring>

#include "common/errors.h"

namespace travosk::formats {

namespace {

// Header.
constexpr size_t kHeaderLength = 0x08;  // u32: where the body starts
constexpr size_t kInflated = 0x0C;      // u32: the body's length inflated
constexpr size_t kStored = 0x10;        // u32: the body's length, or the whole file's
constexpr size_t kDirName = 0x14;       // 32 bytes, NUL padded
constexpr size_t kCreated = 0x34;       // 8-byte card time stamps
constexpr size_t kModified = 0x3C;
constexpr size_t kFolderModeAt = 0x48;  // u32
// Up to the start of the title: a header shorter than this is no header.
constexpr size_t kMinHeader = 0x5C;
constexpr size_t kNameBytes = 32;

// Body record.
constexpr size_t kRecCreated = 0;
constexpr size_t kRecModified = 8;
constexpr size_t kRecLength = 16;  // u32
constexpr size_t kRecMode = 20;    // u16
constexpr size_t kRecName = 32;    // 32 bytes
constexpr size_t kRecordBytes = 64;

// The initial state of the device's RC4 stream, published with the format.
constexpr std::array<uint8_t, 256> kState = {
    0x5f, 0x1f, 0x85, 0x6f, 0x31, 0xaa, 0x3b, 0x18, 0x21, 0xb9, 0xce, 0x1c, 0x07, 0x4c, 0x9c, 0xb4,
    0x81, 0xb8, 0xef, 0x98, 0x59, 0xae, 0xf9, 0x26, 0xe3, 0x80, 0xa3, 0x29, 0x2d, 0x73, 0x51, 0x62,
    0x7c, 0x64, 0x46, 0xf4, 0x34, 0x1a, 0xf6, 0xe1, 0xba, 0x3a, 0x0d, 0x82, 0x79, 0x0a, 0x5c, 0x16,
    0x71, 0x49, 0x8e, 0xac, 0x8c, 0x9f, 0x35, 0x19, 0x45, 0x94, 0x3f, 0x56, 0x0c, 0x91, 0x00, 0x0b,
    0xd7, 0xb0, 0xdd, 0x39, 0x66, 0xa1, 0x76, 0x52, 0x13, 0x57, 0xf3, 0xbb, 0x4e, 0xe5, 0xdc, 0xf0,
    0x65, 0x84, 0xb2, 0xd6, 0xdf, 0x15, 0x3c, 0x63, 0x1d, 0x89, 0x14, 0xbd, 0xd2, 0x36, 0xfe, 0xb1,
    0xca, 0x8b, 0xa4, 0xc6, 0x9e, 0x67, 0x47, 0x37, 0x42, 0x6d, 0x6a, 0x03, 0x92, 0x70, 0x05, 0x7d,
    0x96, 0x2f, 0x40, 0x90, 0xc4, 0xf1, 0x3e, 0x3d, 0x01, 0xf7, 0x68, 0x1e, 0xc3, 0xfc, 0x72, 0xb5,
    0x54, 0xcf, 0xe7, 0x41, 0xe4, 0x4d, 0x83, 0x55, 0x12, 0x22, 0x09, 0x78, 0xfa, 0xde, 0xa7, 0x06,
    0x08, 0x23, 0xbf, 0x0f, 0xcc, 0xc1, 0x97, 0x61, 0xc5, 0x4a, 0xe6, 0xa0, 0x11, 0xc2, 0xea, 0x74,
    0x02, 0x87, 0xd5, 0xd1, 0x9d, 0xb7, 0x7e, 0x38, 0x60, 0x53, 0x95, 0x8d, 0x25, 0x77, 0x10, 0x5e,
    0x9b, 0x7f, 0xd8, 0x6e, 0xda, 0xa2, 0x2e, 0x20, 0x4f, 0xcd, 0x8f, 0xcb, 0xbe, 0x5a, 0xe0, 0xed,
    0x2c, 0x9a, 0xd4, 0xe2, 0xaf, 0xd0, 0xa9, 0xe8, 0xad, 0x7a, 0xbc, 0xa8, 0xf2, 0xee, 0xeb, 0xf5,
    0xa6, 0x99, 0x28, 0x24, 0x6c, 0x2b, 0x75, 0x5d, 0xf8, 0xd3, 0x86, 0x17, 0xfb, 0xc0, 0x7b, 0xb3,
    0x58, 0xdb, 0xc7, 0x4b, 0xff, 0x04, 0x50, 0xe9, 0x88, 0x69, 0xc9, 0x2a, 0xab, 0xfd, 0x5b, 0x1b,
    0x8a, 0xd9, 0xec, 0x27, 0x44, 0x0e, 0x33, 0xc8, 0x6b, 0x93, 0x32, 0x48, 0xb6, 0x30, 0x43, 0xa5};

// Inflates a whole zlib stream, never more than `limit` bytes: a stream that
// is cut short, damaged, or longer than the header announced is refused
// rather than read in part. One byte of room past the limit tells a stream
// that ends there from one that would go on.
std::vector<uint8_t> Inflate(Bytes in, size_t limit) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw FormatError("the .cbs body cannot be inflated");
  std::vector<uint8_t> out(limit + 1);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t made = static_cast<size_t>(z.total_out);
  inflateEnd(&z);
  if (made > limit) throw FormatError("the .cbs body inflates to more than its header says");
  if (rc != Z_STREAM_END) throw FormatError("the .cbs body is damaged (it does not inflate whole)");
  out.resize(made);
  return out;
}

}  // namespace

void CbsCrypt(MutableBytes bytes) {
  std::array<uint8_t, 256> s = kState;
  uint8_t i = 0, j = 0;
  for (auto& b : bytes) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    b ^= s[static_cast<uint8_t>(s[i] + s[j])];
  }
}

bool LooksLikeCbs(Bytes file) {
  return file.size() >= 4 && std::memcmp(file.data(), "CFU\0", 4) == 0;
}

Ps2Save ReadCbs(Bytes file, const std::string& source) {
  if (!LooksLikeCbs(file)) throw FormatError("the file is not a .cbs save");
  if (file.size() < kMinHeader) throw InOutError(source, "the .cbs header ends early");
  const uint64_t header = load_le32(file, kHeaderLength);
  if (header < kMinHeader || header > file.size())
    throw FormatError("the .cbs header's length does not fit the file");
  // The stored length counts the body alone or, as some tools write it, the
  // whole file; a body that ends before either is cut short.
  const uint64_t stored = load_le32(file, kStored);
  Bytes body;
  if (stored == file.size())
    body = file.subspan(static_cast<size_t>(header));
  else if (header + stored <= file.size())
    body = file.subspan(static_cast<size_t>(header), static_cast<size_t>(stored));
  else
    throw InOutError(source, "the .cbs body ends before its stored length");
  const uint64_t inflated = load_le32(file, kInflated);
  if (inflated > kMaxSaveBytes) throw FormatError("the .cbs body claims more than a card holds");

  std::vector<uint8_t> plain(body.begin(), body.end());
  CbsCrypt(plain);
  const std::vector<uint8_t> data = Inflate(plain, static_cast<size_t>(inflated));

  const std::string name = load_cstr(file, kDirName, kNameBytes);
  CheckEntryName(name, "the .cbs save folder");
  Ps2Save save = MakeSave(name, 0);
  // Tools do not always set the folder's mode; a save folder is what it is.
  uint16_t mode = static_cast<uint16_t>(load_le32(file, kFolderModeAt));
  if (!IsFolderMode(mode)) mode = kFolderMode;
  save.folder =
      MakeStampedEntry(mode, 2, name, file.subspan(kCreated, 8), file.subspan(kModified, 8));
  save.dot = MakeStampedEntry(mode, 0, ".", file.subspan(kCreated, 8), file.subspan(kModified, 8));
  save.dotdot =
      MakeStampedEntry(mode, 0, "..", file.subspan(kCreated, 8), file.subspan(kModified, 8));

  const Bytes all(data);
  size_t at = 0;
  while (at < all.size()) {
    if (all.size() - at < kRecordBytes)
      throw FormatError("the .cbs body ends inside a file record");
    const Bytes rec = all.subspan(at, kRecordBytes);
    const uint32_t length = load_le32(rec, kRecLength);
    const uint16_t file_mode = load_le16(rec, kRecMode);
    const std::string file_name = load_cstr(rec, kRecName, kNameBytes);
    CheckEntryName(file_name, "a file of the .cbs save");
    if (!IsFileMode(file_mode))
      throw FormatError("\"" + file_name + "\" in the .cbs save is not a plain file");
    at += kRecordBytes;
    if (length > all.size() - at)
      throw FormatError("file \"" + file_name + "\" runs past the .cbs body");
    AddFile(save,
            MakeFile(MakeStampedEntry(file_mode, length, file_name, rec.subspan(kRecCreated, 8),
                                      rec.subspan(kRecModified, 8)),
                     all.subspan(at, length)));
    at += length;
  }
  return save;
}

}  // namespace travosk::formats
