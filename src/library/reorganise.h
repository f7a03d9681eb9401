// Reorganising a library without losing a save: splitting a card into one
// card per game, merging cards into one, copying or moving a save between two
// cards. Saves are read and written by the card manager's own save
// operations through image sessions. Every card file made or changed is built
// in a temporary file beside it, read back and compared save by save, and
// only then renamed into place; a source card is changed only once its saves
// are in place on the target. Folder cards are read, not written here.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "library/library.h"

namespace travosk::library {

class ReorganiseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct NewCard {
  std::string path;                 // relative to the library's folder
  std::vector<std::string> saves;   // the save names it holds
};

// One new card per game of `card` (saves without a product code share a card
// named "OTHER"), in `layout`, each named by the game's ID and the first
// channel no file takes yet. The source card stays as it is. Nothing is
// written unless every game's card can be named. Throws ReorganiseError.
std::vector<NewCard> SplitCard(const std::string& root, const std::string& card,
                               DeviceLayout layout, const std::string& work_folder);

// One new card `into` (relative to root; its layout by its extension) with
// every save of `cards`, which stay as they are. Stops before anything is
// written when two saves share a name or the saves do not fit one card.
NewCard MergeCards(const std::string& root, const std::vector<std::string>& cards,
                   const std::string& into, const std::string& work_folder);

// Puts save `name` of card `from` on card `to` (both relative to root, of the
// same kind); with `move`, then takes it off `from`. Refused before anything
// is written when `to` holds a save of that name.
void CopySave(const std::string& root, const std::string& from, const std::string& name,
              const std::string& to, bool move, const std::string& work_folder);

}  // namespace travosk::library
