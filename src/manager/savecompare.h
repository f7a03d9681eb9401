// Whether two save files hold the same save: a copy of a save on another card
// sits elsewhere on that card, so the fields that name its place differ and
// everything else must be equal. The copy command verifies with it.
#pragma once

#include <string>

namespace travosk::manager {

class TPS2MFMSYS;

// Two ".psu" archives: equal bytes apart from each entry header's cluster
// and position fields (bytes 16..23). False when a file cannot be read or
// is no archive.
[[nodiscard]] bool SameSaveArchive(const std::string& a, const std::string& b);

// Two ".PS1" saves: equal bytes apart from the directory frame's link to the
// next block and its checksum.
[[nodiscard]] bool SamePS1Save(const std::string& a, const std::string& b);

// A copy just written, checked as the card now holds it: the save called
// `name` is backed up to `check_path` and compared with the file it was
// written from. The PS2 save is found on a fresh catalogue; the PS1 save in
// the card's last scan (FindPS1Save). `check_path` is removed again.
[[nodiscard]] bool CopyReadsBack(TPS2MFMSYS& manager, const std::string& name,
                                 const std::string& source, const std::string& check_path);
[[nodiscard]] bool PS1CopyReadsBack(TPS2MFMSYS& manager, const std::string& name,
                                    const std::string& source, const std::string& check_path);

}  // namespace travosk::manager
