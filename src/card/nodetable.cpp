// The node table: the window numbers its tree nodes as the catalogue reports
// entries, and looks an entry up again by that number (or by name) when the
// user acts on a list item.
#include "card/nodetable.h"

#include "common/errors.h"

namespace travosk::card {

void TDiritemTable::AddNode(int32_t index, const TfileIP& x) {
  // A deleted entry is nothing the user can act on.
  if (x.Deleted == 1) return;
  if (items_.size() >= kCapacity) {
    throw CardError("The card lists more than 16384 entries; the listing was stopped.");
  }
  items_.push_back(TDiritem{index, x});
}

void TDiritemTable::ClearNodes() {
  items_.clear();
}

bool TDiritemTable::FindNodeByIndex(int32_t index, TfileIP& out) const {
  for (const TDiritem& item : items_) {
    if (item.Index == index) {
      out = item.Item;
      return true;
    }
  }
  return false;
}

bool TDiritemTable::FindNodeByName(const std::string& name, TfileIP& out) const {
  for (const TDiritem& item : items_) {
    if (item.Item.Name == name) {
      out = item.Item;
      return true;
    }
  }
  return false;
}

}  // namespace travosk::card
