#include "formats/save.h"

#include <algorithm>
#include <cctype>

#include "common/errors.h"

namespace travosk::formats {

namespace entry = card::entry;

std::string Ps2File::Name() const {
  return load_cstr(entry, entry::kName, entry::kNameMax);
}

std::string Ps2Save::Name() const {
  return load_cstr(folder, entry::kName, entry::kNameMax);
}

uint64_t Ps2Save::Clusters() const {
  // The folder's directory: its entries, two to a cluster.
  uint64_t clusters =
      (uint64_t{load_le32(folder, entry::kLength)} * kEntryBytes + kBlockBytes - 1) / kBlockBytes;
  for (const auto& f : files) clusters += (uint64_t{f.Length()} + kBlockBytes - 1) / kBlockBytes;
  return clusters + 1;
}

Entry MakeEntry(uint16_t mode, uint32_t length, std::string_view name, std::time_t when) {
  Entry e{};
  store_le16(e, entry::kMode, mode);
  store_le32(e, entry::kLength, length);
  card::StoreCardTime(e, entry::kCreated, when);
  card::StoreCardTime(e, entry::kModified, when);
  for (size_t i = 0; i < name.size() && entry::kName + i < e.size() - 1; ++i)
    e[entry::kName + i] = static_cast<uint8_t>(name[i]);
  return e;
}

Ps2File MakeFile(const Entry& e, Bytes content) {
  Ps2File f;
  f.entry = e;
  const size_t blocks = (content.size() + kBlockBytes - 1) / kBlockBytes;
  f.data.assign(blocks * kBlockBytes, 0);
  std::copy(content.begin(), content.end(), f.data.begin());
  return f;
}

Ps2Save MakeSave(std::string_view name, std::time_t when) {
  Ps2Save s;
  s.folder = MakeEntry(kFolderMode, 2, name, when);
  s.dot = MakeEntry(kFolderMode, 0, ".", when);
  s.dotdot = MakeEntry(kFolderMode, 0, "..", when);
  return s;
}

void AddFile(Ps2Save& save, Ps2File file) {
  save.files.push_back(std::move(file));
  store_le32(save.folder, entry::kLength, static_cast<uint32_t>(save.files.size() + 2));
}

Entry MakeStampedEntry(uint16_t mode, uint32_t length, std::string_view name, Bytes created,
                       Bytes modified) {
  Entry e = MakeEntry(mode, length, name, 0);
  std::copy_n(created.begin(), std::min<size_t>(created.size(), 8), e.begin() + entry::kCreated);
  std::copy_n(modified.begin(), std::min<size_t>(modified.size(), 8), e.begin() + entry::kModified);
  return e;
}

void CheckEntryName(const std::string& name, std::string_view what) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    throw FormatError(std::string(what) + " has no name a card entry can take");
  if (name.size() > kEntryNameMax)
    throw FormatError(std::string(what) + " \"" + name + "\" has a name longer than a card keeps");
}

bool IsFileMode(uint16_t mode) {
  return (mode & (entry::kModeExists | kModeFile | entry::kModeDirectory)) ==
         (entry::kModeExists | kModeFile);
}

bool IsFolderMode(uint16_t mode) {
  return (mode & (entry::kModeExists | kModeFile | entry::kModeDirectory)) ==
         (entry::kModeExists | entry::kModeDirectory);
}

std::string Ps1Save::Name() const {
  return load_cstr(frame, ps1frame::kName, ps1frame::kNameMax + 1);
}

void StorePs1Checksum(MutableBytes frame) {
  uint8_t x = 0;
  for (size_t i = 0; i < ps1frame::kChecksum; ++i) x ^= frame[i];
  frame[ps1frame::kChecksum] = x;
}

std::array<uint8_t, kPs1FrameBytes> MakePs1Frame(std::string_view name, size_t blocks) {
  std::array<uint8_t, kPs1FrameBytes> f{};
  f[ps1frame::kState] = ps1frame::kFirst;
  store_le32(f, ps1frame::kSize, static_cast<uint32_t>(blocks * kPs1BlockBytes));
  store_le16(f, ps1frame::kLink, 0xFFFF);
  for (size_t i = 0; i < name.size() && i < ps1frame::kNameMax; ++i)
    f[ps1frame::kName + i] = static_cast<uint8_t>(name[i]);
  StorePs1Checksum(f);
  return f;
}

std::string PathExtension(std::string_view path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  std::string ext(path.substr(dot + 1));
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

Bytes FileCursor::Take(uint64_t count, const char* what) {
  if (count > file_.size() - at_) throw InOutError(source_, std::string(what) + " ends early");
  const Bytes out = file_.subspan(at_, static_cast<size_t>(count));
  at_ += static_cast<size_t>(count);
  return out;
}

Entry FileCursor::TakeEntry(const char* what) {
  Entry e{};
  const Bytes b = Take(kEntryBytes, what);
  std::copy(b.begin(), b.end(), e.begin());
  return e;
}

uint32_t FileCursor::TakeLe32(const char* what) {
  return load_le32(Take(4, what), 0);
}

}  // namespace travosk::formats
