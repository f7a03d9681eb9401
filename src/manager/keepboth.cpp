#include "manager/keepboth.h"

#include <algorithm>
#include <set>

#include "card/walk.h"
#include "common/errors.h"
#include "manager/ps1card.h"

namespace travosk::manager {

namespace {

// Every name in the root of the mounted card, deleted entries aside.
std::set<std::string> RootNames(TPS2MFMSYS& manager) {
  std::set<std::string> names;
  auto& v = manager.Volume();
  card::WalkCursor walk;
  card::TfileIP x;
  (void)card::ReadFirstEntry(v, walk, x);
  const int64_t count = x.Name == "." && !x.Deleted ? manager.EntryCount(x) : 0;
  int64_t passed = x.Deleted ? 0 : 1;
  while (passed < count && card::ReadNextEntry(v, walk, x)) {
    if (x.Deleted) continue;
    ++passed;
    names.insert(x.Name);
  }
  return names;
}

}  // namespace

std::string KeepBothName(const std::string& name, size_t max_length,
                         const std::function<bool(const std::string&)>& taken) {
  if (!taken(name)) return name;
  for (int n = 1;; ++n) {
    // Appended rather than "_" + to_string(n): GCC 12 at -O3 warns falsely
    // (-Wrestrict) on a literal added in front of a temporary string.
    std::string suffix(1, '_');
    suffix += std::to_string(n);
    const size_t keep = max_length > suffix.size() ? max_length - suffix.size() : 0;
    const std::string candidate = name.substr(0, std::min(name.size(), keep)) + suffix;
    if (!taken(candidate)) return candidate;
  }
}

bool AppendSaveKeepingBoth(TPS2MFMSYS& manager, formats::Ps2Save save, std::string& name) {
  if (!manager.Catalog()) return false;
  std::set<std::string> names;
  try {
    names = RootNames(manager);
  } catch (const CardError&) {
    return false;
  }
  name = KeepBothName(save.Name(), formats::kEntryNameMax,
                      [&](const std::string& n) { return names.count(n) > 0; });
  // The name field is the folder entry's own; its "." and ".." carry none.
  std::fill_n(save.folder.begin() + card::entry::kName, formats::kEntryNameMax + 1, 0);
  std::copy(name.begin(), name.end(), save.folder.begin() + card::entry::kName);
  card::TfileIP root = card::RootDirectory();
  return manager.AppendSave(save, root).done;
}

bool DownloadPS1SaverKeepingBoth(TPS2MFMSYS& manager, formats::Ps1Save save, std::string& name) {
  if (!manager.ScanPS1()) return false;
  std::set<std::string> names;
  for (int e : PS1SaveEntries(manager.PS1Card)) names.insert(manager.PS1Card.Items[e].FileName);
  name = KeepBothName(save.Name(), formats::ps1frame::kNameMax,
                      [&](const std::string& n) { return names.count(n) > 0; });
  std::fill_n(save.frame.begin() + formats::ps1frame::kName, formats::ps1frame::kNameMax + 1, 0);
  std::copy(name.begin(), name.end(), save.frame.begin() + formats::ps1frame::kName);
  formats::StorePs1Checksum(save.frame);
  return manager.DownloadPS1Saver(save).done;
}

}  // namespace travosk::manager
