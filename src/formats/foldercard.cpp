#include "formats/foldercard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "card/layout.h"
#include "common/errors.h"
#include "formats/files.h"
#include "formats/foldercard_index.h"
#include "formats/foldercard_tree.h"

namespace travosk::formats {

namespace fs = std::filesystem;
namespace entry = card::entry;
using foldertree::PlainDots;
using foldertree::PlainFileEntry;
using foldertree::PlainFolderEntry;

namespace {

// An index beyond this names more files than any card holds.
constexpr uintmax_t kLongestIndex = 1 << 20;
// A folder's meta file: its entry, and its "." and ".." when kept.
constexpr uintmax_t kLongestMeta = 3 * kEntryBytes;

std::string Quote(const fs::path& p) { return "\"" + p.string() + "\""; }

std::vector<uint8_t> ReadSmallFile(const fs::path& p, uintmax_t most, const char* what) {
  std::error_code ec;
  const auto status = fs::symlink_status(p, ec);
  if (ec || !fs::is_regular_file(status))
    throw FormatError(Quote(p) + ": the folder card's " + what + " is not a plain file");
  const auto size = fs::file_size(p, ec);
  if (ec) throw InOutError(p.string(), ec.message());
  if (size > most) throw FormatError(Quote(p) + ": the folder card's " + what + " is too large");
  return LoadWholeFile(p.string(), most);
}

std::optional<std::vector<folderindex::Record>> ReadIndex(const fs::path& folder) {
  const fs::path p = folder / kFolderCardIndex;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(p, ec))) return std::nullopt;
  const auto bytes = ReadSmallFile(p, kLongestIndex, "index");
  return folderindex::Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                            p.string());
}

const folderindex::Record* FindRecord(const std::vector<folderindex::Record>* index,
                                      std::string_view key) {
  if (!index) return nullptr;
  for (const auto& r : *index)
    if (r.key == key) return &r;
  return nullptr;
}

const folderindex::Record* RootRecord(const std::vector<folderindex::Record>* index) {
  const auto* r = FindRecord(index, folderindex::kRoot);
  return r ? r : FindRecord(index, folderindex::kOldRoot);
}

// An index time the card's stamp can hold (years 1..9999), else refused.
std::time_t CheckedTime(const folderindex::Record& r, const char* name, std::time_t fallback,
                        const fs::path& where) {
  const auto v = r.Get(name);
  if (!v) return fallback;
  if (*v < -62135596800LL || *v > 253402300799LL)
    throw FormatError(Quote(where / kFolderCardIndex) + ": a time no card can hold");
  return static_cast<std::time_t>(*v);
}

std::time_t ModifiedTime(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? st.st_mtime : 0;
}

bool Reserved(const std::string& name) { return name.rfind(kFolderCardPrefix, 0) == 0; }

// A card entry's name as a meta file holds it: NUL terminated within its
// field and one a card entry can take.
void CheckMetaName(const Entry& e, const fs::path& where) {
  const auto* name = e.data() + entry::kName;
  if (std::find(name, name + kEntryNameMax + 1, 0) == name + kEntryNameMax + 1)
    throw FormatError(Quote(where) + ": a name longer than a card entry keeps");
  CheckEntryName(load_cstr(e, entry::kName, entry::kNameMax), Quote(where));
}

// A meta file's bytes over a cleared entry; a file too short to reach the
// name keeps the name the folder gives (as the emulator reads one).
Entry EntryFromMeta(const std::vector<uint8_t>& meta, const std::string& host_name) {
  Entry e{};
  std::copy_n(meta.begin(), std::min(meta.size(), kEntryBytes), e.begin());
  if (meta.size() < entry::kName + 0x20) {
    std::fill(e.begin() + entry::kName, e.end(), 0);
    std::copy_n(host_name.begin(), std::min(host_name.size(), kEntryNameMax),
                e.begin() + entry::kName);
  }
  return e;
}

struct HostFile {
  std::string name;
  uintmax_t size = 0;
};

FolderCardSave ReadSaveFolder(const fs::path& folder, const std::string& host_name) {
  std::vector<HostFile> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (Reserved(name)) continue;
    const auto status = it->symlink_status(ec);
    if (fs::is_symlink(status))
      throw FormatError(Quote(it->path()) + " is a link: a folder card holds plain files");
    if (fs::is_directory(status))
      throw FormatError(Quote(it->path()) +
                        " is a folder inside a save: a save on a card holds only files");
    if (!fs::is_regular_file(status))
      throw FormatError(Quote(it->path()) + " is not a plain file");
    const auto size = it->file_size(ec);
    if (ec) break;
    if (size > kMaxSaveBytes) throw FormatError(Quote(it->path()) + " is larger than any card");
    found.push_back({name, size});
  }
  if (ec) throw InOutError(folder.string(), ec.message());

  const auto index = ReadIndex(folder);
  const auto* index_ptr = index ? &*index : nullptr;
  const std::time_t folder_mtime = ModifiedTime(folder);
  std::time_t created = folder_mtime, modified = folder_mtime;
  if (const auto* root = RootRecord(index_ptr)) {
    created = CheckedTime(*root, "timeCreated", folder_mtime, folder);
    modified = CheckedTime(*root, "timeModified", folder_mtime, folder);
  }

  // Files the index orders come after those it does not know, which come by
  // name; two files of one order leave the order unclear and are refused.
  std::map<std::pair<bool, int64_t>, HostFile> ordered;
  std::vector<HostFile> unordered;
  for (auto& f : found) {
    const auto* r = FindRecord(index_ptr, f.name);
    if (r && r->Get("order")) {
      if (!ordered.emplace(std::make_pair(true, *r->Get("order")), f).second)
        throw FormatError(Quote(folder / kFolderCardIndex) + ": two files share order " +
                          std::to_string(*r->Get("order")));
    } else {
      unordered.push_back(f);
    }
  }
  std::sort(unordered.begin(), unordered.end(),
            [](const HostFile& a, const HostFile& b) { return a.name < b.name; });

  FolderCardSave out;
  out.dir = host_name;
  Ps2Save& save = out.save;
  std::vector<HostFile> files = unordered;
  for (auto& [order, f] : ordered) files.push_back(f);
  std::set<std::string> card_names;
  for (const auto& f : files) {
    const fs::path path = folder / f.name;
    const fs::path meta_path = folder / "_pcsx2_meta" / f.name;
    Ps2File file;
    if (fs::exists(fs::symlink_status(meta_path, ec))) {
      file.entry = EntryFromMeta(ReadSmallFile(meta_path, kEntryBytes, "file entry"), f.name);
      CheckMetaName(file.entry, meta_path);
      if (!IsFileMode(load_le16(file.entry, entry::kMode)))
        throw FormatError(Quote(meta_path) + ": the entry is not a file's");
    } else {
      CheckEntryName(f.name, Quote(path));
      const auto* r = FindRecord(index_ptr, f.name);
      const std::time_t mtime = ModifiedTime(path);
      file.entry = PlainFileEntry(f.name, 0, r ? CheckedTime(*r, "timeCreated", mtime, folder) : mtime,
                                  r ? CheckedTime(*r, "timeModified", mtime, folder) : mtime);
    }
    store_le32(file.entry, entry::kLength, static_cast<uint32_t>(f.size));
    store_le32(file.entry, entry::kCluster, 0);
    const auto bytes = LoadWholeFile(path.string(), kMaxSaveBytes);
    if (bytes.size() != f.size) throw FormatError(Quote(path) + " changed while it was read");
    file.data.assign((bytes.size() + kBlockBytes - 1) / kBlockBytes * kBlockBytes, 0);
    std::copy(bytes.begin(), bytes.end(), file.data.begin());
    if (!card_names.insert(file.Name()).second)
      throw FormatError(Quote(folder) + " holds two files that a card names \"" + file.Name() + "\"");
    save.files.push_back(std::move(file));
  }

  const uint32_t length = static_cast<uint32_t>(save.files.size() + 2);
  save.folder = PlainFolderEntry(host_name, length, created, modified);
  PlainDots(save.folder, save.dot, save.dotdot);
  const fs::path meta_dir = folder / "_pcsx2_meta_directory";
  if (fs::exists(fs::symlink_status(meta_dir, ec))) {
    const auto meta = ReadSmallFile(meta_dir, kLongestMeta, "folder entry");
    save.folder = EntryFromMeta(meta, host_name);
    CheckMetaName(save.folder, meta_dir);
    if (!IsFolderMode(load_le16(save.folder, entry::kMode)))
      throw FormatError(Quote(meta_dir) + ": the entry is not a folder's");
    store_le32(save.folder, entry::kLength, length);
    if (meta.size() == kLongestMeta) {
      std::copy_n(meta.begin() + kEntryBytes, kEntryBytes, save.dot.begin());
      std::copy_n(meta.begin() + 2 * kEntryBytes, kEntryBytes, save.dotdot.begin());
    } else {
      PlainDots(save.folder, save.dot, save.dotdot);
    }
  } else {
    CheckEntryName(host_name, Quote(folder));
  }
  NormaliseSave(save);
  return out;
}

}  // namespace

void NormaliseSave(Ps2Save& save) {
  for (Entry* e : {&save.folder, &save.dot, &save.dotdot}) store_le32(*e, entry::kCluster, 0);
  store_le32(save.dot, entry::kDirEntry, 0);
  for (auto& f : save.files) store_le32(f.entry, entry::kCluster, 0);
}

std::time_t StampToIndexTime(Bytes s) {
  std::tm t{};
  t.tm_sec = s[1];
  t.tm_min = s[2];
  t.tm_hour = s[3];
  t.tm_mday = s[4];
  t.tm_mon = std::max(static_cast<int>(s[5]) - 1, 0);
  t.tm_year = std::max(static_cast<int>(load_le16(s, 6)) - 1900, 0);
  return ::timegm(&t);
}

std::array<uint8_t, 8> IndexTimeToStamp(std::time_t when) {
  std::array<uint8_t, 8> s{};
  std::tm t{};
  if (!::gmtime_r(&when, &t)) return s;
  s[1] = static_cast<uint8_t>(t.tm_sec);
  s[2] = static_cast<uint8_t>(t.tm_min);
  s[3] = static_cast<uint8_t>(t.tm_hour);
  s[4] = static_cast<uint8_t>(t.tm_mday);
  s[5] = static_cast<uint8_t>(t.tm_mon + 1);
  store_le16(s, 6, static_cast<uint16_t>(t.tm_year + 1900));
  return s;
}

bool IsFolderCard(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec) && fs::exists(fs::path(path) / kFolderCardSuperblock, ec);
}

bool NamesFolderCard(const std::string& path) {
  return IsFolderCard(path) || (!path.empty() && path.back() == '/');
}

FolderCard ReadFolderCard(const std::string& dir) {
  const fs::path root(dir);
  std::error_code ec;
  if (!fs::is_directory(root, ec)) throw InOutError(dir, "not a folder");
  const fs::path super = root / kFolderCardSuperblock;
  if (!fs::exists(fs::symlink_status(super, ec)))
    throw FormatError(Quote(root) + " is no folder card: it has no " +
                      std::string(kFolderCardSuperblock) + " file");
  FolderCard card;
  card.superblock = ReadSmallFile(super, kFolderSuperblockBytes, "superblock");
  if (card.superblock.size() != kFolderSuperblockBytes ||
      !std::equal(card::superblock::kMagic.begin(), card::superblock::kMagic.end(),
                  card.superblock.begin()))
    throw FormatError(Quote(super) + " is no formatted card's superblock (8,192 bytes that open with \"" +
                      std::string(card::superblock::kMagic) + "\")");

  const auto index = ReadIndex(root);
  const auto* index_ptr = index ? &*index : nullptr;
  if (const auto* r = RootRecord(index_ptr); r && r->Get("timeCreated")) {
    const std::time_t created = CheckedTime(*r, "timeCreated", 0, root);
    card.root_created = IndexTimeToStamp(created);
    card.root_modified = IndexTimeToStamp(CheckedTime(*r, "timeModified", created, root));
  }

  std::map<int64_t, std::string> ordered;
  std::vector<std::string> unordered;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const auto status = it->symlink_status(ec);
    // The emulator skips the root's files and its own names.
    if (Reserved(name) || fs::is_regular_file(status)) continue;
    if (!fs::is_directory(status))
      throw FormatError(Quote(it->path()) + " is neither a save's folder nor a plain file");
    const auto* r = FindRecord(index_ptr, name);
    if (r && r->Get("order")) {
      if (!ordered.emplace(*r->Get("order"), name).second)
        throw FormatError(Quote(root / kFolderCardIndex) + ": two saves share order " +
                          std::to_string(*r->Get("order")));
    } else {
      unordered.push_back(name);
    }
  }
  if (ec) throw InOutError(dir, ec.message());
  std::sort(unordered.begin(), unordered.end());
  std::vector<std::string> names;
  for (auto& [order, name] : ordered) names.push_back(name);
  names.insert(names.end(), unordered.begin(), unordered.end());
  std::set<std::string> card_names;
  for (const auto& name : names) {
    card.saves.push_back(ReadSaveFolder(root / name, name));
    if (!card_names.insert(card.saves.back().save.Name()).second)
      throw FormatError(Quote(root) + " holds two saves that a card names \"" +
                        card.saves.back().save.Name() + "\"");
  }
  return card;
}

}  // namespace travosk::formats
