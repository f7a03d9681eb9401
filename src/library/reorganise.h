// Reorganising a library without losing a save: splitting a card into one
// card per game, merging cards into one, copying or moving a save between two
// cards. Saves are read and written by the card manager's own save
// operations through image sessions. Every card image made or changed is
// built in a temporary file beside it, read back and compared save by save,
// and only then renamed into place; a folder card is changed through its own
// write-back, save by save, and a new one renamed into place whole; the card
// in an adapter takes the card manager's save commands, each committed whole.
// A source card is changed only once its saves read back equal on the target.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "library/library.h"
#include "manager/ps2mfmsys.h"

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
// written unless every game's card can be named. With `folder_cards` (PS2
// cards in the emulator layout only) the new cards are folder cards, named
// as the emulator names its card files. Throws ReorganiseError.
std::vector<NewCard> SplitCard(const std::string& root, const std::string& card,
                               DeviceLayout layout, const std::string& work_folder,
                               bool folder_cards = false);

// One new card `into` (relative to root; its layout by its extension, a
// folder card when it ends in '/') with every save of `cards`, which stay as
// they are. Stops before anything is written when two saves share a name or
// the saves do not fit one card.
NewCard MergeCards(const std::string& root, const std::vector<std::string>& cards,
                   const std::string& into, const std::string& work_folder);

// One end of a copy or a move: a card file, a card of the library (relative
// to its folder) or any card image or folder card (an absolute path); or the
// card in an adapter, reached through the card manager the caller opened on
// it and holds for the whole command.
struct CardEnd {
  std::string path;                          // the card file; for an adapter, its name in messages
  manager::TPS2MFMSYS* adapter = nullptr;    // the adapter's card manager; null for a card file
};

// Puts save `name` of card `from` on card `to` (cards of the same kind);
// with `move`, then takes it off `from`. Refused before anything is written
// when `to` holds a save of that name or the save does not fit it. The save
// is read back from the target and compared byte for byte before a move
// touches its source: a target write that fails leaves the save where it was.
void CopySave(const std::string& root, const CardEnd& from, const std::string& name,
              const CardEnd& to, bool move, const std::string& work_folder);
// Between two cards of the library.
void CopySave(const std::string& root, const std::string& from, const std::string& name,
              const std::string& to, bool move, const std::string& work_folder);

}  // namespace travosk::library
