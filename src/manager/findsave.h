// A PS2 save found by its folder's name in the root of the card as it is now.
#pragma once

#include <optional>
#include <string>

#include "manager/ps2mfmsys.h"

namespace travosk::manager {

// Catalogues the card and answers the save folder of that name, if there is
// one; the catalogue's events still reach the handlers assigned to them.
// `unreadable`, when given, tells a card that could not be read (the save
// may well be there) from one that was read and does not hold it.
std::optional<card::TfileIP> FindSave(TPS2MFMSYS& manager, const std::string& name,
                                      bool* unreadable = nullptr);

// The save folder of that name as the last catalogue listed it (the node
// table), without reading the card again: the question "is it there
// already?" asked right after a catalogue.
std::optional<card::TfileIP> CataloguedSave(const TPS2MFMSYS& manager, const std::string& name);

}  // namespace travosk::manager
