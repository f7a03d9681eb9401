// convert between folder cards and card images.
#pragma once

#include <optional>

#include "cli/commands.h"
#include "cli/context.h"

namespace travosk::cli {

// `convert DIR/ CARD` and `convert CARD DIR/`: the exit code when one side
// is a folder card (an existing one, a folder that looks like one, an
// existing folder as the output, or a name ending in '/'); nullopt when
// neither is, for the other conversions.
std::optional<int> ConvertFolderCard(Context& c, const ConvertOptions& o);

}  // namespace travosk::cli
