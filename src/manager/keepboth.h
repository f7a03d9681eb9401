// "Keep both": a save restored beside one of the same name. A folder holds
// each name once (the console and every lookup by name reach only the first
// entry of a name), so the incoming save gets a name of its own: its name
// with "_1", "_2", ... at the end, shortened first where the name field
// would not take the suffix. The save already on the card keeps its name,
// and with it the place its game looks for it.
#pragma once

#include <functional>
#include <string>

#include "formats/save.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

// `name` itself when `taken` says it is free, else the first of name_1,
// name_2, ... that is free, cut to `max_length` bytes before its suffix.
std::string KeepBothName(const std::string& name, size_t max_length,
                         const std::function<bool(const std::string&)>& taken);

// Appends the save to the root of the catalogued PS2 card under a name no
// root entry has; `name` receives the name it went on under. False (the
// card's reason in LastError) when it could not be written.
[[nodiscard]] bool AppendSaveKeepingBoth(TPS2MFMSYS& manager, formats::Ps2Save save,
                                         std::string& name);

// The same for a PS1 card: writes the save under a name no save on the card
// has (at most 20 characters, the directory frame's checksum made afresh).
[[nodiscard]] bool DownloadPS1SaverKeepingBoth(TPS2MFMSYS& manager, formats::Ps1Save save,
                                               std::string& name);

}  // namespace travosk::manager
