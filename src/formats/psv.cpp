#include "formats/psv.h"

#include <cstring>

#include "common/errors.h"

namespace travosk::formats {

namespace {

constexpr size_t kSaveKind = 0x3C;  // u32: 2 PS2, 1 PS1
constexpr uint32_t kPs2Kind = 2;
constexpr uint32_t kPs1Kind = 1;

// PS2: after the icon table, the file count, the folder's record and the
// files' records.
constexpr size_t kFileCount = 0x64;  // u32
constexpr size_t kFolderRecord = 0x68;
constexpr size_t kFolderRecordBytes = 0x38;
constexpr size_t kFileRecords = kFolderRecord + kFolderRecordBytes;  // 0xA0
constexpr size_t kFileRecordBytes = 0x3C;
// Within a record.
constexpr size_t kRecCreated = 0x00;
constexpr size_t kRecModified = 0x08;
constexpr size_t kRecSize = 0x10;    // u32: a file's bytes; the folder's entries
constexpr size_t kRecMode = 0x14;    // u32
constexpr size_t kRecName = 0x18;    // 32 bytes; exporters leave bytes after the NUL
constexpr size_t kRecOffset = 0x38;  // u32, files only: where the bytes are
constexpr size_t kNameBytes = 32;

// PS1.
constexpr size_t kPs1Length = 0x40;  // u32: the save's bytes, whole blocks
constexpr size_t kPs1Start = 0x44;   // u32: where they start
constexpr size_t kPs1Name = 0x64;    // 20 bytes, NUL padded
constexpr size_t kPs1HeaderBytes = 0x84;

}  // namespace

bool LooksLikePsv(Bytes file) {
  return file.size() >= 4 && std::memcmp(file.data(), "\0VSP", 4) == 0;
}

bool IsPs1Psv(Bytes file) {
  return LooksLikePsv(file) && file.size() >= kSaveKind + 4 &&
         load_le32(file, kSaveKind) == kPs1Kind;
}

Ps2Save ReadPsv(Bytes file, const std::string& source) {
  if (!LooksLikePsv(file)) throw FormatError("the file is not a .psv save");
  if (file.size() < kFileRecords) throw InOutError(source, "the .psv header ends early");
  const uint32_t kind = load_le32(file, kSaveKind);
  if (kind == kPs1Kind) throw FormatError("the file is a PS1 save (use the PS1 commands)");
  if (kind != kPs2Kind) throw FormatError("the .psv file holds no save kind this system knows");

  const uint64_t count = load_le32(file, kFileCount);
  if (count * kFileRecordBytes > file.size() - kFileRecords)
    throw InOutError(source, "the .psv file table runs past the end of the file");
  const Bytes dir = file.subspan(kFolderRecord, kFolderRecordBytes);
  const std::string name = load_cstr(dir, kRecName, kNameBytes);
  CheckEntryName(name, "the .psv save folder");
  const uint16_t dir_mode = static_cast<uint16_t>(load_le32(dir, kRecMode));
  if (!IsFolderMode(dir_mode)) throw FormatError("the .psv save's folder record is not a folder");
  const Bytes created = dir.subspan(kRecCreated, 8), modified = dir.subspan(kRecModified, 8);
  Ps2Save save = MakeSave(name, 0);
  save.folder = MakeStampedEntry(dir_mode, 2, name, created, modified);
  save.dot = MakeStampedEntry(dir_mode, 0, ".", created, modified);
  save.dotdot = MakeStampedEntry(dir_mode, 0, "..", created, modified);

  uint64_t total = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const Bytes rec = file.subspan(kFileRecords + i * kFileRecordBytes, kFileRecordBytes);
    const std::string file_name = load_cstr(rec, kRecName, kNameBytes);
    CheckEntryName(file_name, "a file of the .psv save");
    const uint16_t mode = static_cast<uint16_t>(load_le32(rec, kRecMode));
    if (!IsFileMode(mode))
      throw FormatError("\"" + file_name + "\" in the .psv save is not a plain file");
    const uint64_t length = load_le32(rec, kRecSize);
    const uint64_t at = load_le32(rec, kRecOffset);
    total += length;
    if (total > kMaxSaveBytes)
      throw FormatError("file \"" + file_name + "\" claims more bytes than a card holds");
    if (at > file.size() || length > file.size() - at)
      throw InOutError(source, "file \"" + file_name + "\" runs past the end of the .psv file");
    AddFile(save,
            MakeFile(MakeStampedEntry(mode, static_cast<uint32_t>(length), file_name,
                                      rec.subspan(kRecCreated, 8), rec.subspan(kRecModified, 8)),
                     file.subspan(static_cast<size_t>(at), static_cast<size_t>(length))));
  }
  return save;
}

Ps1Save ReadPs1Psv(Bytes file, const std::string& source) {
  if (!LooksLikePsv(file)) throw FormatError("the file is not a .psv save");
  if (file.size() < kPs1HeaderBytes) throw InOutError(source, "the .psv header ends early");
  if (load_le32(file, kSaveKind) != kPs1Kind)
    throw FormatError("the file is a PS2 save (restore it to a PS2 card)");
  const uint64_t length = load_le32(file, kPs1Length);
  const uint64_t at = load_le32(file, kPs1Start);
  if (length == 0 || length % kPs1BlockBytes != 0)
    throw FormatError("the .psv save's length is not a whole number of blocks");
  if (length > kPs1MaxBlocks * kPs1BlockBytes)
    throw FormatError("the .psv save holds more blocks than a card has");
  if (at < kPs1HeaderBytes || at > file.size() || length > file.size() - at)
    throw InOutError(source, "the .psv save's blocks run past the end of the file");
  const std::string name = load_cstr(file, kPs1Name, ps1frame::kNameMax);
  if (name.empty()) throw FormatError("the .psv save has no name");
  Ps1Save save;
  save.frame = MakePs1Frame(name, static_cast<size_t>(length / kPs1BlockBytes));
  const Bytes blocks = file.subspan(static_cast<size_t>(at), static_cast<size_t>(length));
  save.blocks.assign(blocks.begin(), blocks.end());
  return save;
}

}  // namespace travosk::formats
