#include "formats/sharkport.h"

#include <cstring>

#include "common/errors.h"

namespace travosk::formats {

namespace {

constexpr char kMagic[] = "\x0d\0\0\0SharkPortSave";
constexpr size_t kMagicBytes = 17;

// Record (the folder's and each file's).
constexpr size_t kRecLength = 0;  // u16: the record's own length
constexpr size_t kRecName = 2;    // 64 bytes, NUL padded
constexpr size_t kRecSize = 66;   // u32: a file's bytes; the folder's entries + 2
constexpr size_t kRecMode = 78;   // u16, bytes swapped
constexpr size_t kRecCreated = 82;
constexpr size_t kRecModified = 90;
constexpr size_t kRecMin = 98;  // the fields above; devices add more after them
constexpr size_t kNameBytes = 64;

uint16_t Swapped(uint16_t v) {
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}

// A whole record, its length field included.
Bytes TakeRecord(FileCursor& in) {
  const Bytes head = in.Take(2, "a .sps record");
  const uint16_t length = load_le16(head, kRecLength);
  if (length < kRecMin) throw FormatError("a record of the .sps/.xps save is too short");
  in.Take(length - 2u, "a .sps record");
  return Bytes(head.data(), length);
}

}  // namespace

bool LooksLikeSharkPort(Bytes file) {
  return file.size() >= kMagicBytes && std::memcmp(file.data(), kMagic, kMagicBytes) == 0;
}

Ps2Save ReadSharkPort(Bytes file, const std::string& source) {
  if (!LooksLikeSharkPort(file)) throw FormatError("the file is not a .sps/.xps save");
  FileCursor in(file, source);
  in.Take(kMagicBytes + 4, "the .sps header");
  for (int text = 0; text < 3; ++text)
    in.Take(in.TakeLe32("the .sps header"), "a .sps header text");
  const uint32_t rest = in.TakeLe32("the .sps header");
  if (rest > in.Left())
    throw InOutError(source, "the .sps save ends before the length it announces");
  FileCursor body(file.subspan(file.size() - in.Left(), rest), source);

  const Bytes dir = TakeRecord(body);
  const std::string name = load_cstr(dir, kRecName, kNameBytes);
  CheckEntryName(name, "the .sps/.xps save folder");
  const uint16_t dir_mode = Swapped(load_le16(dir, kRecMode));
  const uint32_t entries = load_le32(dir, kRecSize);
  if (!IsFolderMode(dir_mode) || entries < 2)
    throw FormatError("the first record of the .sps/.xps save is not a save folder");
  const Bytes created = dir.subspan(kRecCreated, 8);
  const Bytes modified = dir.subspan(kRecModified, 8);
  Ps2Save save = MakeSave(name, 0);
  save.folder = MakeStampedEntry(dir_mode, 2, name, created, modified);
  save.dot = MakeStampedEntry(dir_mode, 0, ".", created, modified);
  save.dotdot = MakeStampedEntry(dir_mode, 0, "..", created, modified);

  // Files are read one record at a time until the count is met: a count the
  // body cannot hold runs into its end, never into an allocation.
  uint64_t total = 0;
  for (uint32_t i = 0; i + 2 < entries; ++i) {
    const Bytes rec = TakeRecord(body);
    const std::string file_name = load_cstr(rec, kRecName, kNameBytes);
    CheckEntryName(file_name, "a file of the .sps/.xps save");
    const uint16_t mode = Swapped(load_le16(rec, kRecMode));
    if (!IsFileMode(mode))
      throw FormatError("\"" + file_name + "\" in the .sps/.xps save is not a plain file");
    const uint32_t length = load_le32(rec, kRecSize);
    total += length;
    if (total > kMaxSaveBytes)
      throw FormatError("file \"" + file_name + "\" claims more bytes than a card holds");
    const Bytes data = body.Take(length, "a .sps file");
    AddFile(save, MakeFile(MakeStampedEntry(mode, length, file_name, rec.subspan(kRecCreated, 8),
                                            rec.subspan(kRecModified, 8)),
                           data));
  }
  return save;
}

}  // namespace travosk::formats
