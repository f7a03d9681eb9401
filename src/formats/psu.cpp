#include "formats/psu.h"

#include <algorithm>

#include "common/errors.h"

namespace travosk::formats {

namespace entry = card::entry;

namespace {
constexpr const char* kArchive = "the archive";
}  // namespace

bool LooksLikePsu(Bytes file) {
  if (file.size() < 3 * kEntryBytes) return false;
  const std::string name = load_cstr(file, entry::kName, entry::kNameMax);
  return load_le16(file, entry::kReserved) == 0 &&
         (load_le16(file, entry::kMode) & entry::kModeDirectory) != 0 &&
         load_le32(file, entry::kLength) >= 2 && name != "." && name != "..";
}

Ps2Save ReadPsu(Bytes file, const std::string& source) {
  FileCursor in(file, source);
  Ps2Save save;
  save.folder = in.TakeEntry(kArchive);
  const uint32_t length = load_le32(save.folder, entry::kLength);
  const std::string name = save.Name();
  if (load_le16(save.folder, entry::kReserved) != 0 ||
      !(load_le16(save.folder, entry::kMode) & entry::kModeDirectory) || length < 2 ||
      name == "." || name == "..")
    throw FormatError("the file's first entry is not a save folder");
  save.dot = in.TakeEntry(kArchive);
  save.dotdot = in.TakeEntry(kArchive);
  // The count comes from the file: records are read one by one until the file
  // runs out, never reserved ahead.
  uint64_t total = 0;
  for (uint32_t i = 0; i < length - 2; ++i) {
    Ps2File f;
    f.entry = in.TakeEntry(kArchive);
    const uint64_t blocks = (uint64_t{f.Length()} + kBlockBytes - 1) / kBlockBytes;
    total += blocks * kBlockBytes;
    if (total > kMaxSaveBytes)
      throw FormatError("file \"" + f.Name() + "\" claims more bytes than a card holds");
    const Bytes data = in.Take(blocks * kBlockBytes, kArchive);
    f.data.assign(data.begin(), data.end());
    save.files.push_back(std::move(f));
  }
  return save;
}

std::vector<uint8_t> WritePsu(const Ps2Save& save) {
  std::vector<uint8_t> out;
  size_t size = 3 * kEntryBytes;
  for (const auto& f : save.files) size += kEntryBytes + f.data.size();
  out.resize(size);
  size_t at = 0;
  auto put = [&out, &at](Bytes b) {
    std::copy(b.begin(), b.end(), out.begin() + static_cast<ptrdiff_t>(at));
    at += b.size();
  };
  put(save.folder);
  put(save.dot);
  put(save.dotdot);
  for (const auto& f : save.files) {
    put(f.entry);
    put(f.data);
  }
  return out;
}

}  // namespace travosk::formats
