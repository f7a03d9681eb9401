#include "manager/listing.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "card/fileops.h"
#include "common/errors.h"
#include "formats/iconsys.h"
#include "manager/cardroom.h"

namespace travosk::manager {

using card::TfileIP;

namespace {

// A PS1 save file: "SC", then its title at 4, 64 bytes of Shift-JIS.
constexpr size_t kPS1Title = 4;
constexpr size_t kPS1TitleBytes = 64;

bool IsIconSysName(const std::string& name) {
  std::string upper = name;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper == "ICON.SYS";
}

Bytes AsBytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

bool ReadFileData(TPS2MFMSYS& manager, const TfileIP& file, std::string& data) {
  std::ostringstream stream;
  if (!card::ExportEntry(manager.Volume(), stream, file)) return false;
  data = stream.str();
  const size_t length = file.Length();
  if (data.size() < 512 + static_cast<uint64_t>(length)) return false;
  data = data.substr(512, length);
  return true;
}

ListedSave DescribeSave(TPS2MFMSYS& manager, const TfileIP& folder, std::vector<TfileIP> files) {
  ListedSave save;
  save.folder = folder;
  save.files = std::move(files);
  save.size = OccupiedBytes(save.folder, save.files);
  const auto icon_sys = std::find_if(save.files.begin(), save.files.end(),
                                     [](const TfileIP& f) { return IsIconSysName(f.Name); });
  std::string data;
  if (icon_sys != save.files.end()) {
    save.icon_sys = true;
    if (!ReadFileData(manager, *icon_sys, data)) return save;
    const formats::IconSysText text = formats::ReadIconSysText(AsBytes(data));
    save.title_lines = text.title_lines;
    save.title = formats::JoinTitleLines(text.title_lines[0], text.title_lines[1]);
    save.stored_title = text.title;
    save.list_icon = text.icon_files[0];
  } else if (!save.files.empty() && ReadFileData(manager, save.files.back(), data)) {
    // A file that is no PS1 save (no "SC") has no title: the folder's name stands for it.
    save.ps1_save = data.compare(0, 2, "SC") == 0;
    save.title = save.ps1_save ? load_non_nul(AsBytes(data), kPS1Title, kPS1TitleBytes) : save.folder.Name;
    save.title_lines = {save.title, ""};
  }
  return save;
}

bool ListCard(TPS2MFMSYS& manager, CardListing& listing, std::string& error) {
  listing = CardListing{};
  struct Found {
    TfileIP folder;
    std::vector<TfileIP> files;
  };
  std::vector<Found> found;
  bool in_save = false;
  manager.OnAddrootNode = [&](TfileIP& x) {
    in_save = x.Dir && !x.Deleted && !x.IsDotName();
    if (in_save) found.push_back({x, {}});
  };
  manager.OnAddChildNode = [&](TfileIP& x) {
    if (in_save && !x.Dir && !x.Deleted) found.back().files.push_back(x);
  };
  const bool ok = manager.Catalog();
  manager.OnAddrootNode = nullptr;
  manager.OnAddChildNode = nullptr;
  if (!ok) {
    error = manager.LastError().empty() ? "the card could not be read" : manager.LastError();
    return false;
  }
  try {
    for (auto& f : found) listing.saves.push_back(DescribeSave(manager, f.folder, std::move(f.files)));
  } catch (const CardError& e) {
    error = e.what();
    return false;
  }
  listing.capacity = manager.Access().DataBytes();
  listing.free = FreeBytes(manager.Volume());
  listing.used = listing.capacity > listing.free ? listing.capacity - listing.free : 0;
  return true;
}

}  // namespace travosk::manager
