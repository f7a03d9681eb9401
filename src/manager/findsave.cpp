#include "manager/findsave.h"

#include "card/walk.h"
#include "common/errors.h"

namespace travosk::manager {

using card::TfileIP;

std::optional<TfileIP> FindSave(TPS2MFMSYS& manager, const std::string& name,
                                bool* unreadable) {
  if (unreadable) *unreadable = false;
  // The catalogue mounts the card afresh and shows it to the front end; the
  // search then walks the root again with a cursor of its own, over the
  // entries the catalogue listed (as many as the root's "." counts).
  if (!manager.Catalog()) {
    if (unreadable) *unreadable = true;
    return std::nullopt;
  }
  auto& v = manager.Volume();
  try {
    card::WalkCursor walk;
    TfileIP x;
    (void)card::ReadFirstEntry(v, walk, x);
    const int64_t count = x.Name == "." && !x.Deleted ? manager.EntryCount(x) : 0;
    int64_t passed = x.Deleted ? 0 : 1;
    while (passed < count && card::ReadNextEntry(v, walk, x)) {
      if (!x.Deleted) ++passed;
      if (x.Dir && !x.Deleted && !x.IsDotName() && x.Name == name) return x;
    }
  } catch (const CardError&) {
    if (unreadable) *unreadable = true;
  }
  return std::nullopt;
}

std::optional<TfileIP> CataloguedSave(const TPS2MFMSYS& manager, const std::string& name) {
  TfileIP folder;
  if (manager.Nodes().FindNodeByName(name, folder) && folder.Dir && !folder.IsDotName())
    return folder;
  return std::nullopt;
}

}  // namespace travosk::manager
