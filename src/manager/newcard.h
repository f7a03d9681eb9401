// Blank card images made on the PC: a formatted card in any layout the image
// layer writes, as "New card image…" and the command line's "new" make them.
#pragma once

#include <string>

#include "formats/images.h"

namespace travosk::manager {

// Card sizes a new PS2 image may have: every size of PS2 card, 1 to 64 MB.
inline constexpr auto& kNewPS2Sizes = formats::kPs2CardSizes;

// Writes an empty formatted card of `layout` (a PS2 card of `megabytes`, one
// of kNewPS2Sizes; a PS1 card is always 128 KB) to `path`. The card is made in a
// temporary file beside it and put in place whole; an existing file is
// replaced only with `overwrite`, else refused. Throws InOutError (the
// existing file, a folder that cannot be written, a size or layout that
// cannot be made) and leaves nothing behind on failure.
void CreateCardImage(const std::string& path, formats::ImageFormat layout, int megabytes = 8,
                     bool overwrite = false);

}  // namespace travosk::manager
