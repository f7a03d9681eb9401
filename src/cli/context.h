// What every command of the command line shares: its streams, the answers
// given on the command line, questions on a terminal, progress bars and JSON.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/source.h"

namespace travosk::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

class Context {
 public:
  Context(std::istream& in, std::ostream& out, std::ostream& err, const Terminal& terminal)
      : in(in), out(out), err(err), terminal(terminal) {}

  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  Terminal terminal;
  bool json = false;
  bool yes = false;
  SourceOptions source;

  // A one-line reason on stderr; answers kExitFailed.
  int Fail(const std::string& reason);
  // Destructive commands: --yes, or a "y" typed at a terminal. Without either
  // the command is refused (kExitUsage through `refused`).
  bool Confirm(const std::string& question, int& refused);
  // Routes the card manager's progress events to a bar on stderr when it is
  // a terminal.
  void AttachProgress(manager::TPS2MFMSYS& manager, const std::string& label);
  void EndProgress();

 private:
  void Draw(int max, int min, int process);
  std::string label_;
  bool drawn_ = false;
};

std::string JsonString(const std::string& utf8);

}  // namespace travosk::cli
