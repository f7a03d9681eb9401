// The command line run in this process, as a script or a terminal runs it:
// its exit code and what it printed on each stream.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace travosk::testing {

struct Result {
  int code;
  std::string out;
  std::string err;
};

// `args` with the working folder added; `tty` says whether the input is a
// terminal (the questions are then asked and answered from `input`).
inline Result RunCli(std::vector<std::string> args, const std::string& workdir,
                     const std::string& input = "", bool tty = false) {
  args.push_back("--workdir=" + workdir);
  std::istringstream in(input);
  std::ostringstream out, err;
  cli::Terminal terminal;
  terminal.input_is_tty = tty;
  const int code = cli::Run(args, in, out, err, terminal);
  return {code, out.str(), err.str()};
}

}  // namespace travosk::testing
