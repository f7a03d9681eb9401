#include "cli/listing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "card/fileops.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "manager/icons.h"
#include "manager/cardroom.h"

namespace travosk::cli {

using card::TfileIP;

namespace {

constexpr size_t kPS1HeaderTitle = 4;   // title frame bytes 4..67 of a PS1 save
constexpr size_t kPS1HeaderTitleBytes = 64;

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

// Every non-NUL byte of a field, in order: titles keep their two lines joined.
std::string NonNulBytes(const std::string& data, size_t at, size_t count) {
  std::string out;
  for (size_t i = at; i < at + count && i < data.size(); ++i)
    if (data[i] != '\0') out.push_back(data[i]);
  return out;
}

Bytes AsBytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

bool ReadFileData(manager::TPS2MFMSYS& manager, const TfileIP& file, std::string& data) {
  std::ostringstream stream;
  if (!card::ExportEntry(manager.Volume(), stream, file)) return false;
  data = stream.str();
  const size_t length = file.Length();
  if (data.size() < 512 + static_cast<uint64_t>(length)) return false;
  data = data.substr(512, length);
  return true;
}

bool ListCard(manager::TPS2MFMSYS& manager, CardListing& listing, std::string& error) {
  listing = CardListing{};
  std::vector<SaveRow>& saves = listing.saves;
  bool in_save = false;
  manager.OnAddrootNode = [&](TfileIP& x) {
    in_save = x.Dir && !x.Deleted && !x.IsDotName();
    if (in_save) saves.push_back(SaveRow{x, {}, {}, 0, {}});
  };
  manager.OnAddChildNode = [&](TfileIP& x) {
    if (in_save && !x.Dir && !x.Deleted) saves.back().files.push_back(x);
  };
  const bool ok = manager.Catalog();
  manager.OnAddrootNode = nullptr;
  manager.OnAddChildNode = nullptr;
  if (!ok) {
    error = manager.LastError().empty() ? "the card could not be read" : manager.LastError();
    return false;
  }
  try {
    for (auto& save : saves) {
      save.size = manager::OccupiedBytes(save.folder, save.files);
      const TfileIP* icon_sys = nullptr;
      for (const auto& f : save.files)
        if (Upper(f.Name) == "ICON.SYS") icon_sys = &f;
      std::string data;
      if (icon_sys && ReadFileData(manager, *icon_sys, data)) {
        save.title_lines = formats::IconSysTitleLines(AsBytes(data));
        save.title = formats::JoinTitleLines(save.title_lines[0], save.title_lines[1]);
      } else if (!icon_sys && !save.files.empty() &&
                 ReadFileData(manager, save.files.back(), data)) {
        // A file that is no PS1 save (no "SC") has no title: the folder's name stands for it.
        save.title = data.compare(0, 2, "SC") == 0
                         ? NonNulBytes(data, kPS1HeaderTitle, kPS1HeaderTitleBytes)
                         : save.folder.Name;
        save.title_lines = {save.title, ""};
      }
    }
  } catch (const CardError& e) {
    error = e.what();
    return false;
  }
  listing.capacity = manager.Access().DataBytes();
  listing.free = manager::FreeBytes(manager.Volume());
  listing.used = listing.capacity > listing.free ? listing.capacity - listing.free : 0;
  return true;
}


}  // namespace travosk::cli
