// travosk-cli's manual page, in roff, made from the command table at build
// time and installed beside the program.
#pragma once

#include <iosfwd>

namespace travosk::cli {

void WriteManual(std::ostream& out);

}  // namespace travosk::cli
