#include "library/library.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "card/layout.h"
#include "common/errors.h"
#include "common/slots.h"
#include "formats/foldercard.h"
#include "formats/images.h"
#include "library/index.h"
#include "manager/cardroom.h"
#include "manager/imagesession.h"
#include "manager/listing.h"
#include "manager/ps1card.h"

namespace fs = std::filesystem;

namespace travosk::library {

namespace {

constexpr std::pair<DeviceLayout, std::string_view> kLayoutNames[] = {
    {DeviceLayout::kLoose, "loose"},          {DeviceLayout::kPerGame, "per-game"},
    {DeviceLayout::kMemoryCards, "memorycards"}, {DeviceLayout::kEmulator, "emulator"},
    {DeviceLayout::kVirtualCards, "vmc"},     {DeviceLayout::kPs1PerGame, "ps1-per-game"},
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "SLES-50001", "SLES_500.01" or "SLES50001" at `at`: the code, else "".
std::string CodeAt(std::string_view s, size_t at) {
  if (at + 4 > s.size()) return {};
  for (size_t i = 0; i < 4; ++i)
    if (!IsUpper(s[at + i])) return {};
  size_t p = at + 4;
  if (p < s.size() && (s[p] == '-' || s[p] == '_')) ++p;
  std::string digits;
  while (p < s.size() && digits.size() < 5) {
    if (IsDigit(s[p])) {
      digits.push_back(s[p]);
    } else if (s[p] == '.' && digits.size() == 3) {
      // "SLUS_203.12" as the disc's file names write the code
    } else {
      break;
    }
    ++p;
  }
  if (digits.size() != 5) return {};
  return std::string(s.substr(at, 4)) + "-" + digits;
}

// A card file's layout by the name alone, for the files a scan looks at:
// every extension the image layer knows, and the PS3's and loaders' names.
bool NamesCardImage(const fs::path& p) {
  if (!formats::ImageFormatsForPath(p.filename().string()).empty()) return true;
  const std::string ext = Lower(p.extension().string());
  return ext == ".ps2" || ext == ".mc2" || ext == ".vmc" || ext == ".vm2" || ext == ".vm1";
}

bool IsGameId(std::string_view s) { return s.size() == 10 && !CodeAt(s, 0).empty(); }

// "<stem>-<digit>" with the stem given: the channel files of card emulators.
bool IsChannelFile(const std::string& file, const std::string& stem) {
  const std::string base = fs::path(file).stem().string();
  return base.size() == stem.size() + 2 && base.compare(0, stem.size(), stem) == 0 &&
         base[stem.size()] == '-' && IsDigit(base.back());
}

std::vector<std::string> Parts(const std::string& path) {
  std::vector<std::string> parts;
  for (const auto& part : fs::path(path)) parts.push_back(part.string());
  return parts;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

void ReadPS2(manager::TPS2MFMSYS& m, CardEntry& card) {
  manager::CardListing listing;
  std::string error;
  if (!manager::ListCard(m, listing, error)) {
    card.problem = error;
    return;
  }
  for (const auto& listed : listing.saves) {
    SaveEntry save;
    save.name = listed.folder.Name;
    save.product = ProductCode(save.name);
    save.size = listed.size;
    save.title = listed.title;
    save.icon = listed.list_icon;
    save.modified = card::FormatCardTime(
        Bytes(listed.folder.Header.data() + card::entry::kModified, 8));
    card.saves.push_back(std::move(save));
  }
  card.capacity = listing.capacity;
  card.free = listing.free;
  card.readable = true;
}

void ReadPS1(manager::TPS2MFMSYS& m, CardEntry& card) {
  if (!m.PS1Catalog()) {
    card.problem = m.LastError().empty() ? "the card could not be read" : m.LastError();
    return;
  }
  card.capacity = manager::kPS1Capacity;
  if (!m.PS1Card.Formatted) {
    card.problem = "the card is not formatted";
    return;
  }
  int64_t used = 0;
  for (const int entry : manager::PS1SaveEntries(m.PS1Card)) {
    const auto& item = m.PS1Card.Items[entry];
    SaveEntry save;
    save.name = item.FileName;
    save.title = item.Title;
    save.product = ProductCode(save.name);
    save.size = static_cast<uint64_t>(std::max<int32_t>(item.Size, 0));
    save.entry = entry;
    used += item.Size;
    card.saves.push_back(std::move(save));
  }
  card.free = static_cast<uint64_t>(std::max<int64_t>(manager::kPS1Capacity - used, 0));
  card.readable = true;
}

void ReadThrough(const std::string& path, const std::string& work_folder, bool listing,
                 CardEntry& card) {
  manager::ImageSessionOptions options;
  options.card = path;
  options.card_unwritten = true;
  options.card_listing = listing;
  options.work_folder = work_folder;
  manager::ImageSession session(options);
  auto& m = session.Manager();
  m.Access().Medium = Slot::kCard;
  if (m.CheckLink())
    ReadPS2(m, card);
  else if (m.Access().IsPS1Card)
    ReadPS1(m, card);
  else
    card.problem = "no card the adapter recognises";
}

}  // namespace

std::string_view LayoutName(DeviceLayout layout) {
  for (const auto& [l, name] : kLayoutNames)
    if (l == layout) return name;
  return "loose";
}

std::optional<DeviceLayout> LayoutByName(std::string_view name) {
  for (const auto& [l, n] : kLayoutNames)
    if (n == name) return l;
  return std::nullopt;
}

std::string ProductCode(std::string_view name) {
  // Save names begin with "B", the region's letter, and the code.
  if (name.size() >= 12 && name[0] == 'B') {
    if (auto code = CodeAt(name, 2); !code.empty()) return code;
  }
  for (size_t at = 0; at + 4 <= name.size(); ++at)
    if (auto code = CodeAt(name, at); !code.empty()) return code;
  return {};
}

std::vector<std::string> FindCards(const std::string& root) {
  std::vector<std::string> found;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  if (ec) throw InOutError(root, ec.message());
  // Paths under the folder, relative: the iterator's own paths begin with
  // the folder as given (fs::relative would resolve every one on the disk).
  const std::string prefix = fs::path(root).generic_string();
  const auto relative = [&](const fs::path& p) {
    std::string s = p.generic_string();
    s.erase(0, prefix.size());
    while (!s.empty() && s.front() == '/') s.erase(0, 1);
    return s;
  };
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& p = it->path();
    const std::string file = p.filename().string();
    // Our own temporary files of a reorganisation cut short are no cards.
    if (file.rfind(".travosk-", 0) == 0) continue;
    if (it->is_directory(ec)) {
      if (formats::IsFolderCard(p.string())) {
        found.push_back(relative(p));
        it.disable_recursion_pending();
      }
      continue;
    }
    if (it->is_regular_file(ec) && NamesCardImage(p))
      found.push_back(relative(p));
  }
  std::sort(found.begin(), found.end());
  return found;
}

DeviceLayout DetectLayout(const std::vector<std::string>& paths) {
  if (paths.empty()) return DeviceLayout::kLoose;
  size_t per_game = 0, memorycards = 0, vmc = 0, emulator = 0, ps1_per_game = 0;
  for (const auto& path : paths) {
    const auto parts = Parts(path);
    const std::string ext = Lower(fs::path(path).extension().string());
    const std::string stem = fs::path(path).stem().string();
    if (parts.size() == 4 && parts[0] == "MemoryCards" &&
        (parts[1] == "PS2" || parts[1] == "PS1") && IsChannelFile(parts[3], parts[2]))
      ++memorycards;
    else if (parts.size() == 2 && IsGameId(parts[0]) && IsChannelFile(parts[1], parts[0]))
      ++per_game;
    else if (parts.size() == 2 && Upper(parts[0]) == "VMC" && (ext == ".bin" || ext == ".vmc"))
      ++vmc;
    else if (parts.size() == 1 && IsGameId(stem) && ext != ".ps2")
      ++ps1_per_game;
    else if (parts.size() == 1 && (ext == ".ps2" || ext.empty() || ext == ".mcd" || ext == ".mcr"))
      ++emulator;
  }
  // The layout most of the cards follow; a library of loose files is none.
  const std::pair<size_t, DeviceLayout> counts[] = {
      {memorycards, DeviceLayout::kMemoryCards}, {per_game, DeviceLayout::kPerGame},
      {vmc, DeviceLayout::kVirtualCards},        {ps1_per_game, DeviceLayout::kPs1PerGame},
      {emulator, DeviceLayout::kEmulator}};
  const auto best = std::max_element(std::begin(counts), std::end(counts),
                                     [](const auto& a, const auto& b) { return a.first < b.first; });
  return best->first * 2 > paths.size() ? best->second : DeviceLayout::kLoose;
}

CardEntry ReadCard(const std::string& root, const std::string& relative_path,
                   const std::string& work_folder) {
  CardEntry card;
  card.path = relative_path;
  const std::string path = (fs::path(root) / relative_path).string();
  try {
    card.folder_card = formats::IsFolderCard(path);
    if (!card.folder_card) {
      const auto kind = formats::IdentifyImageFile(path);
      if (!kind) {
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        card.problem = "not a card image of a known layout (" +
                       (ec ? ec.message() : std::to_string(size) + " bytes") + ")";
        return card;
      }
      card.format = std::string(formats::ImageFormatName(kind->format));
      card.ps1 = kind->ps1;
    } else {
      card.format = "folder card";
    }
    // A card is first read as a listing needs it (only the pages it
    // reaches, nothing kept); one that does not list so is read again in a
    // whole session, whose reason the library shows, as a window or the
    // command line opening that card would.
    CardEntry quick = card;
    try {
      ReadThrough(path, work_folder, true, quick);
    } catch (const std::exception&) {
      quick.readable = false;
    }
    if (quick.readable) return quick;
    ReadThrough(path, work_folder, false, card);
  } catch (const std::exception& e) {
    card.readable = false;
    card.saves.clear();
    card.problem = e.what();
  }
  return card;
}

Library OpenLibrary(const std::string& root, const OpenOptions& options) {
  std::error_code ec;
  if (!fs::is_directory(root, ec)) throw InOutError(root, "not a folder");
  Library library;
  library.root = root;
  const auto paths = FindCards(root);
  library.layout = DetectLayout(paths);
  Index index;
  if (!options.index_path.empty()) index = LoadIndex(options.index_path, root);
  bool changed = false;
  for (const auto& relative : paths) {
    const auto key = KeyOf(root, relative);
    if (key) {
      if (const CardEntry* known = index.Find(relative, *key)) {
        library.cards.push_back(*known);
        continue;
      }
    }
    library.cards.push_back(ReadCard(root, relative, options.work_folder));
    ++library.cards_read;
    if (key) {
      index.Put(library.cards.back(), *key);
      changed = true;
    }
  }
  if (!options.index_path.empty() && (changed || index.Size() != paths.size())) {
    index.KeepOnly(paths);
    // An index that cannot be written costs only the next listing's speed.
    try {
      SaveIndex(options.index_path, root, index);
    } catch (const std::exception&) {
    }
  }
  return library;
}

std::string DefaultIndexPath(const std::string& root) {
  fs::path base;
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache)
    base = cache;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = fs::path(home) / ".cache";
  else
    return {};
  std::error_code ec;
  const auto absolute = fs::weakly_canonical(fs::absolute(root, ec), ec);
  return (base / "travosk" / ("library-" + HashName(absolute.string()) + ".idx")).string();
}

}  // namespace travosk::library
