// What a save command on the card came to, as its caller needs to tell the
// user: done, or the reason it was not, and whether the card turned out to
// have changed since the catalogue that named the save.
#pragma once

#include <string>

namespace travosk::manager {

struct Outcome {
  bool done = false;
  // Why not, from the card, the link or the file; empty for a refused
  // precondition (a folder that is no save, a cancelled command).
  std::string reason;
  // The save named by an older catalogue is no longer on the card, or is
  // there twice: the list must be read again.
  bool card_changed = false;

  explicit operator bool() const { return done; }
};

}  // namespace travosk::manager
