// ".psv" saves exported by a PS3, of a PS2 save or of a PS1 save: "\0VSP",
// a signature (not checked here: only the exporting console checks it), the
// kind of save at 0x3C (2 PS2, 1 PS1), then for a PS2 save a table of the
// folder and its files (times, length, mode, name and, for files, where
// their bytes are in the file), for a PS1 save the save's length, where its
// blocks start and its name.
#pragma once

#include <string>

#include "formats/save.h"

namespace travosk::formats {

bool LooksLikePsv(Bytes file);
// True for a ".psv" that holds a PS1 save.
bool IsPs1Psv(Bytes file);
// Throw FormatError for a bad magic, the other kind of save, a table or
// block that runs past the file, a folder that is not one, or a sub-folder.
Ps2Save ReadPsv(Bytes file, const std::string& source);
Ps1Save ReadPs1Psv(Bytes file, const std::string& source);

}  // namespace travosk::formats
