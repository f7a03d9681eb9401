// The command line's commands, one row each. The parser, its help and the
// manual page are all built from this one table, so they cannot disagree.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace travosk::cli {

class Context;

inline constexpr std::string_view kProgram = "travosk-cli";
inline constexpr std::string_view kSummary =
    "PS2 and PS1 memory cards and SmartMedia through the adapter";

using Runner = std::function<int(Context&)>;

struct Command {
  // "ps1 backup" is the "backup" command of the "ps1" group; a row without
  // `declare` is a group.
  std::string_view name;
  std::string_view help;
  // Declares the command's own arguments on its parser; the answer runs the
  // command with the options the parser fills in.
  std::function<Runner(CLI::App&)> declare;
};

const std::vector<Command>& Commands();

// The whole parser: the options every command takes, bound to `c`, and one
// subcommand a row. After a parse, `chosen` runs the command named.
void BuildParser(CLI::App& app, Context& c, Runner& chosen);

}  // namespace travosk::cli
