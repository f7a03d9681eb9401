// TDiritemTable: maps a tree node index to the entry that the catalogue
// reported for it, so that a list item can be turned back into its entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/fileip.h"

namespace travosk::card {

struct TDiritem {
  int32_t Index = 0;
  TfileIP Item;
};

class TDiritemTable {
 public:
  static constexpr size_t kCapacity = 16384;
  // Deleted entries are not added. Throws CardError when the table is full.
  void AddNode(int32_t index, const TfileIP& x);
  void ClearNodes();
  bool FindNodeByIndex(int32_t index, TfileIP& out) const;
  bool FindNodeByName(const std::string& name, TfileIP& out) const;
  size_t Count() const { return items_.size(); }
  const TDiritem& At(size_t i) const { return items_[i]; }

 private:
  std::vector<TDiritem> items_;
};

}  // namespace travosk::card
