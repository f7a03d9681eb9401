// Writing folder cards: a new one whole beside its place, or an existing one
// save by save, every save first in a private directory of the folder's own
// (the emulator skips "_pcsx2_" names) and renamed into place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "card/layout.h"
#include "common/errors.h"
#include "formats/files.h"
#include "formats/foldercard.h"
#include "formats/foldercard_index.h"
#include "formats/foldercard_tree.h"

namespace travosk::formats {

namespace fs = std::filesystem;
namespace entry = card::entry;

namespace foldertree {

namespace {

Entry PlainEntry(uint16_t mode, const std::string& name, uint32_t length, std::time_t created,
                 std::time_t modified) {
  Entry e{};
  store_le16(e, entry::kMode, mode);
  store_le32(e, entry::kLength, length);
  const auto c = IndexTimeToStamp(created), m = IndexTimeToStamp(modified);
  std::copy(c.begin(), c.end(), e.begin() + entry::kCreated);
  std::copy(m.begin(), m.end(), e.begin() + entry::kModified);
  std::copy_n(name.begin(), std::min(name.size(), kEntryNameMax), e.begin() + entry::kName);
  return e;
}

}  // namespace

Entry PlainFileEntry(const std::string& name, uint32_t length, std::time_t created,
                     std::time_t modified) {
  return PlainEntry(kPlainFileMode, name, length, created, modified);
}

Entry PlainFolderEntry(const std::string& name, uint32_t length, std::time_t created,
                       std::time_t modified) {
  return PlainEntry(kFolderMode, name, length, created, modified);
}

void PlainDots(const Entry& folder, Entry& dot, Entry& dotdot) {
  for (Entry* e : {&dot, &dotdot}) {
    e->fill(0);
    store_le16(*e, entry::kMode, kFolderMode);
    std::copy_n(folder.begin() + entry::kCreated, 8, e->begin() + entry::kCreated);
    std::copy_n(folder.begin() + entry::kModified, 8, e->begin() + entry::kModified);
  }
  dot[entry::kName] = '.';
  dotdot[entry::kName] = dotdot[entry::kName + 1] = '.';
}

std::string HostName(const std::string& card_name) {
  std::string name = card_name;
  for (char& c : name)
    if (std::strchr("\\%:|\"<>", c) && c != '\0') c = '_';
  for (auto it = name.rbegin(); it != name.rend() && (*it == '.' || *it == ' '); ++it) *it = '_';
  return name;
}

}  // namespace foldertree

namespace {

using foldertree::HostName;

std::time_t Created(const Entry& e) { return StampToIndexTime(Bytes(e).subspan(entry::kCreated, 8)); }
std::time_t Modified(const Entry& e) { return StampToIndexTime(Bytes(e).subspan(entry::kModified, 8)); }

// Where each save and file of a card goes in a folder card; refused
// (FormatError) when two would share a place or a name would be hidden.
struct SavePlan {
  const Ps2Save* save = nullptr;
  std::string dir;
  std::vector<std::string> files;
};

std::string CheckedHostName(const std::string& card_name, const std::string& what) {
  CheckEntryName(card_name, what);
  const std::string host = HostName(card_name);
  if (host.rfind(kFolderCardPrefix, 0) == 0)
    throw FormatError(what + " \"" + card_name + "\" takes a name the emulator keeps for itself");
  return host;
}

std::vector<SavePlan> Plan(const FolderCard& card) {
  if (card.superblock.size() != kFolderSuperblockBytes)
    throw FormatError("a folder card's superblock is 8,192 bytes");
  std::vector<SavePlan> plans;
  std::set<std::string> dirs;
  for (const auto& s : card.saves) {
    SavePlan p{&s.save, CheckedHostName(s.save.Name(), "a save"), {}};
    if (!dirs.insert(p.dir).second)
      throw FormatError("two saves would share the folder \"" + p.dir + "\" of a folder card");
    std::set<std::string> names;
    for (const auto& f : s.save.files) {
      p.files.push_back(CheckedHostName(f.Name(), "a file of save \"" + s.save.Name() + "\""));
      if (!names.insert(p.files.back()).second)
        throw FormatError("two files of save \"" + s.save.Name() + "\" would share the name \"" +
                          p.files.back() + "\"");
    }
    plans.push_back(std::move(p));
  }
  return plans;
}

void WriteFile(const fs::path& p, Bytes bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw InOutError(p.string(), "write failed");
}

void SetModified(const fs::path& p, std::time_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  (void)::utimensat(AT_FDCWD, p.c_str(), times, 0);
}

// A save's files, meta files and index into the empty directory `out`.
void WriteSaveFolder(const SavePlan& plan, const fs::path& out) {
  const Ps2Save& save = *plan.save;
  std::vector<folderindex::Record> index;
  index.push_back({std::string(folderindex::kRoot),
                   {{"timeCreated", Created(save.folder)}, {"timeModified", Modified(save.folder)}}});
  for (size_t i = 0; i < save.files.size(); ++i) {
    const Ps2File& f = save.files[i];
    const fs::path path = out / plan.files[i];
    const auto content = f.Content();
    if (content.size() != f.Length())
      throw FormatError("file \"" + f.Name() + "\" of save \"" + save.Name() + "\" holds fewer bytes than its entry says");
    WriteFile(path, content);
    SetModified(path, Modified(f.entry));
    if (f.entry != foldertree::PlainFileEntry(plan.files[i], f.Length(), Created(f.entry), Modified(f.entry))) {
      fs::create_directories(out / "_pcsx2_meta");
      WriteFile(out / "_pcsx2_meta" / plan.files[i], f.entry);
    }
    index.push_back({plan.files[i],
                     {{"order", static_cast<int64_t>(i + 1)},
                      {"timeCreated", Created(f.entry)},
                      {"timeModified", Modified(f.entry)}}});
  }
  Entry dot, dotdot;
  foldertree::PlainDots(save.folder, dot, dotdot);
  const bool plain_dots = dot == save.dot && dotdot == save.dotdot;
  const bool plain_folder =
      save.folder == foldertree::PlainFolderEntry(plan.dir, load_le32(save.folder, entry::kLength),
                                                  Created(save.folder), Modified(save.folder));
  if (!plain_folder || !plain_dots) {
    std::vector<uint8_t> meta(save.folder.begin(), save.folder.end());
    if (!plain_dots) {
      meta.insert(meta.end(), save.dot.begin(), save.dot.end());
      meta.insert(meta.end(), save.dotdot.begin(), save.dotdot.end());
    }
    WriteFile(out / "_pcsx2_meta_directory", meta);
  }
  const std::string text = folderindex::Write(index);
  WriteFile(out / kFolderCardIndex, Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::string RootIndex(const FolderCard& card, const std::vector<SavePlan>& plans) {
  std::vector<folderindex::Record> index;
  if (card.root_created != std::array<uint8_t, 8>{})
    index.push_back({std::string(folderindex::kRoot),
                     {{"timeCreated", StampToIndexTime(card.root_created)},
                      {"timeModified", StampToIndexTime(card.root_modified)}}});
  for (size_t i = 0; i < plans.size(); ++i)
    index.push_back({plans[i].dir, {{"order", static_cast<int64_t>(i + 1)}}});
  return folderindex::Write(index);
}

Bytes TextBytes(const std::string& text) {
  return Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// A new directory beside or inside the folder, removed unless kept.
class TempDir {
 public:
  explicit TempDir(const std::string& pattern) {
    std::string name = pattern + "XXXXXX";
    if (!::mkdtemp(name.data())) throw InOutError(pattern, std::strerror(errno));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(name.c_str(), 0777 & ~mask);
    path_ = name;
  }
  ~TempDir() {
    std::error_code ec;
    if (!kept_) fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  fs::path path_;
  bool kept_ = false;
};

void Rename(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) throw InOutError(to.string(), std::strerror(errno));
}

bool SameSave(const Ps2Save& a, const Ps2Save& b) {
  if (a.folder != b.folder || a.dot != b.dot || a.dotdot != b.dotdot || a.files.size() != b.files.size())
    return false;
  for (size_t i = 0; i < a.files.size(); ++i) {
    const auto ca = a.files[i].Content(), cb = b.files[i].Content();
    if (a.files[i].entry != b.files[i].entry || !std::equal(ca.begin(), ca.end(), cb.begin(), cb.end()))
      return false;
  }
  return true;
}

}  // namespace

void WriteFolderCard(const FolderCard& card, const std::string& dir) {
  const auto plans = Plan(card);
  std::string target = dir;
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  std::error_code ec;
  if (fs::exists(fs::symlink_status(target, ec)) &&
      (!fs::is_directory(fs::symlink_status(target, ec)) || !fs::is_empty(target, ec)))
    throw InOutError(target, "exists and is not an empty folder");
  TempDir temp(target + ".new-");
  WriteFile(temp.path() / kFolderCardSuperblock, card.superblock);
  WriteFile(temp.path() / kFolderCardIndex, TextBytes(RootIndex(card, plans)));
  for (const auto& p : plans) {
    fs::create_directory(temp.path() / p.dir, ec);
    if (ec) throw InOutError((temp.path() / p.dir).string(), ec.message());
    WriteSaveFolder(p, temp.path() / p.dir);
  }
  Rename(temp.path(), target);
  temp.Keep();
}

void UpdateFolderCard(const FolderCard& before, const FolderCard& after, const std::string& dir) {
  const auto plans = Plan(after);
  const fs::path root(dir);
  std::map<std::string, const FolderCardSave*> old_by_name;
  for (const auto& s : before.saves) old_by_name[s.save.Name()] = &s;

  // Every changed or new save is written whole before anything is renamed.
  std::set<std::string> kept;
  std::vector<std::pair<std::unique_ptr<TempDir>, std::string>> staged;
  for (const auto& p : plans) {
    const auto it = old_by_name.find(p.save->Name());
    if (it != old_by_name.end() && it->second->dir == p.dir && SameSave(it->second->save, *p.save)) {
      kept.insert(p.dir);
      continue;
    }
    auto temp = std::make_unique<TempDir>((root / "_pcsx2_tmp_").string());
    WriteSaveFolder(p, temp->path());
    staged.emplace_back(std::move(temp), p.dir);
  }

  std::error_code ec;
  std::set<std::string> written;
  for (auto& [temp, name] : staged) {
    const fs::path target = root / name;
    if (fs::exists(fs::symlink_status(target, ec))) {
      TempDir aside((root / "_pcsx2_tmp_").string());
      Rename(target, aside.path());
    }
    Rename(temp->path(), target);
    temp->Keep();
    written.insert(name);
  }
  // A save no longer on the card is moved aside, as the emulator moves one
  // a game deleted; a save that only moved to another folder is removed.
  std::set<std::string> after_names;
  for (const auto& p : plans) after_names.insert(p.save->Name());
  for (const auto& s : before.saves) {
    if (s.dir.empty() || kept.count(s.dir) || written.count(s.dir)) continue;
    const fs::path old = root / s.dir;
    if (after_names.count(s.save.Name())) {
      fs::remove_all(old, ec);
      continue;
    }
    const fs::path aside = root / (std::string(kFolderCardPrefix) + "deleted_" + s.dir);
    fs::remove_all(aside, ec);
    Rename(old, aside);
  }
  const std::string index = RootIndex(after, plans);
  WriteWholeFileAtomically((root / kFolderCardIndex).string(), TextBytes(index));
  if (after.superblock != before.superblock)
    WriteWholeFileAtomically((root / kFolderCardSuperblock).string(), after.superblock);
}

}  // namespace travosk::formats
