// Replacing a save on the card with one from an archive (or, on a PS1 card,
// from a ".PS1" save file), without ever losing the old one: the room is
// checked before anything is deleted, the old save is backed up first, and
// when the new one cannot be written the old one goes back. The window's
// overwrite answer, the write-back of an edited save and the command line's
// restores all go through here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "manager/ps2mfmsys.h"

namespace travosk::manager {

enum class ReplaceResult {
  kDone,             // the new save is on the card
  kNoRoom,           // not tried: the new save would not fit even without the old one
  kBackupFailed,     // not tried: the old save could not be backed up first
  kFailedRestored,   // the new save could not be written; the old one is back
  kFailedLost,       // neither could be written; the old save's backup is kept
};

// A path in `folder` (created when missing) that no file takes yet, for a
// copy of a save that a message tells the user is kept: the save's name, an
// underscore, a number and the extension ("BASLUS-21003SIZES_1.psu"). A file
// once named to the user is never written over nor removed by the program,
// so every kept copy gets a name of its own.
std::string KeptCopyPath(const std::string& folder, const std::string& save_name,
                         const std::string& extension);

// Deletes `existing` and appends `archive`; backup_path receives the old save
// first and is removed again once the outcome is safe. `existing` comes from
// the current catalogue; a fresh one is left behind.
ReplaceResult ReplaceSave(TPS2MFMSYS& manager, const std::string& archive,
                          card::TfileIP existing, const std::string& backup_path);
// The same with the new save already read from its file.
ReplaceResult ReplaceSave(TPS2MFMSYS& manager, const formats::Ps2Save& incoming,
                          card::TfileIP existing, const std::string& backup_path);

// The same for a PS1 card: replaces the save whose first block is directory
// entry `entry` with `save` (read from a file of any PS1 format). The room is
// checked against a fresh scan of the card (the new save's blocks against the
// free ones and the old save's); backup_path receives the old save as a
// ".PS1" file and is removed again once the outcome is safe.
ReplaceResult ReplacePS1Save(TPS2MFMSYS& manager, const formats::Ps1Save& save, int entry,
                             const std::string& backup_path);

}  // namespace travosk::manager
