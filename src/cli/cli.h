// travosk-cli: the card manager for scripts and terminals.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace travosk::cli {

struct Terminal {
  bool input_is_tty = false;   // questions can be asked
  bool error_is_tty = false;   // progress bars are drawn
};

// Exit codes: 0 done, 1 the operation failed, 2 usage.
int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err, const Terminal& terminal);

}  // namespace travosk::cli
