// A PS2 card image moved onto a fresh card of another size: every save is
// read from the card as it is and written onto a newly formatted card of the
// size and layout asked for, in the order the card lists them.
#pragma once

#include <string>

#include "formats/images.h"

namespace travosk::manager {

// Writes to `to` a new card of `megabytes` (one of kNewPS2Sizes) in `layout`
// holding every save of the PS2 card image `from`, which is only read. The
// card is made beside `to` and put in place whole; an existing `to` is
// replaced only with `overwrite`. Throws InOutError, leaving nothing behind,
// when `from` cannot be read as a card, when one of its saves cannot be
// carried (a folder inside a save, a file in the root), or when the saves do
// not all fit: the message names the saves that do not.
void ResizeCardImage(const std::string& from, const std::string& to, formats::ImageFormat layout,
                     int megabytes, const std::string& work_folder, bool overwrite);

}  // namespace travosk::manager
