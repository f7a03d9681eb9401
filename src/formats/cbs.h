// ".cbs" saves of a cheat device: a header ("CFU\0", the header's length, the
// inflated and stored lengths, the save folder's name, times and mode, a
// title), then the body, RC4-encrypted with the device's published fixed
// state and zlib-compressed. Inflated, the body is each file's 64-byte
// record (times, length, mode, name) followed by its bytes.
#pragma once

#include <string>

#include "formats/save.h"

namespace travosk::formats {

bool LooksLikeCbs(Bytes file);
// Throws FormatError for a bad magic, a length that does not add up, a body
// that does not inflate whole or inflates past what its header says (or a
// card holds), and a record that runs past the body.
Ps2Save ReadCbs(Bytes file, const std::string& source);

// The device's RC4 stream over `bytes`, from its fixed initial state: the same
// call encrypts and decrypts.
void CbsCrypt(MutableBytes bytes);

}  // namespace travosk::formats
