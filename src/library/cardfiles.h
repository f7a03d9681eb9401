// The steps every reorganisation shares: a card's saves read whole, from a
// card file or from the card in an adapter, and a card file made or changed
// without ever leaving it half written.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "formats/save.h"
#include "manager/ps2mfmsys.h"

namespace travosk::library::cardfiles {

// A save as read from a card: the value the card manager writes, and its
// bytes as an archive for the comparison after the write.
struct SaveValue {
  std::string name;
  bool ps1 = false;
  formats::Ps2Save ps2;
  formats::Ps1Save ps1_save;
  std::vector<uint8_t> bytes;
};

// The card manager `m` on its card slot; `ps1` tells the card's kind.
// Throws ReorganiseError when the slot holds no card.
void SelectCard(manager::TPS2MFMSYS& m, bool& ps1);

// Every save of the card `m` reaches, read whole; `label` names the card in
// messages. With `only`, the saves of other names come back with their name
// alone (nothing of them is read). Throws ReorganiseError.
std::vector<SaveValue> ReadSavesOf(manager::TPS2MFMSYS& m, const std::string& label, bool& ps1,
                                   const std::set<std::string>* only = nullptr);
// The same for the card file (image or folder card) at `path`, which is
// never written.
std::vector<SaveValue> ReadSaves(const std::string& path, const std::string& work_folder,
                                 bool& ps1, const std::set<std::string>* only = nullptr);

enum class CardFile {
  kExisting,       // a card image or folder card that is there
  kNewImage,       // a blank card image, its layout by the name's extension
  kNewFolderCard,  // a new folder card (8 MB, PS2)
};

// Makes or changes the card file `target` (absolute): takes `removals` off
// and `additions` on. An image is built in a temporary file beside it, read
// back and compared save by save, and replaces `target` only then. A folder
// card that is there is brought to match its card save by save, through its
// own write-back, and read back; a new one is built as an image first and
// renamed into place whole. Throws ReorganiseError.
void WriteCard(const std::string& target, CardFile kind, bool ps1,
               const std::vector<const SaveValue*>& additions,
               const std::vector<std::string>& removals, const std::string& work_folder);

// Takes `removals` off and `additions` on the card `m` reaches, through the
// card manager's own save commands (each committed whole or not at all),
// then reads the card again: every save put on it byte for byte, none taken
// off left. Throws ReorganiseError.
void ChangeCard(manager::TPS2MFMSYS& m, const std::string& label, bool ps1,
                const std::vector<const SaveValue*>& additions,
                const std::vector<std::string>& removals);

}  // namespace travosk::library::cardfiles
