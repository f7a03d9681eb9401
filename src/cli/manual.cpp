// The manual page, made from the parser that the command table builds, so
// every command and option appears as "--help" shows it.
#include "cli/manual.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "cli/context.h"
#include "cli/table.h"

namespace travosk::cli {

namespace {

// Text as roff shows it: backslashes and hyphens escaped, and no line that
// starts with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\\') out += "\\e";
    else if (ch == '-') out += "\\-";
    else out += ch;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

bool IsHelpOrVersion(const CLI::Option* option) {
  const std::string name = option->get_name();
  return name == "--help" || name == "--version";
}

// "SAVE", "[FILE]", "--format TEXT", "--yes, -y".
std::string Synopsis(const CLI::Option* option) {
  if (option->get_positional()) {
    const std::string name = option->get_name(true);
    return option->get_required() ? name : "[" + name + "]";
  }
  std::string names;
  for (const auto& n : option->get_lnames()) names += (names.empty() ? "--" : ", --") + n;
  for (const auto& n : option->get_snames()) names += (names.empty() ? "-" : ", -") + n;
  if (const std::string type = option->get_type_name(); !type.empty()) names += " " + type;
  return names;
}

// The options and arguments that say what they are; the others speak for
// themselves in the command's usage line.
bool Explained(const CLI::Option* option) {
  return !IsHelpOrVersion(option) && !option->get_description().empty();
}

void WriteOptions(std::ostream& out, const CLI::App& app) {
  for (const CLI::Option* option : app.get_options()) {
    if (!Explained(option)) continue;
    out << ".TP\n.B " << Roff(Synopsis(option)) << "\n"
        << Roff(option->get_description()) << "\n";
  }
}

void WriteCommand(std::ostream& out, const CLI::App& command, const std::string& prefix) {
  std::string usage = prefix + command.get_name();
  for (const CLI::Option* option : command.get_options())
    if (option->get_positional()) usage += " " + Synopsis(option);
  for (const CLI::Option* option : command.get_options())
    if (!option->get_positional() && !IsHelpOrVersion(option))
      usage += option->get_required() ? " " + Synopsis(option) : " [" + Synopsis(option) + "]";
  out << ".SS " << Roff(usage) << "\n" << Roff(command.get_description()) << "\n";
  const auto options = command.get_options();
  if (std::any_of(options.begin(), options.end(), Explained)) {
    out << ".RS\n";
    WriteOptions(out, command);
    out << ".RE\n";
  }
}

}  // namespace

void WriteManual(std::ostream& out) {
  std::istringstream in;
  std::ostringstream sink;
  Context c(in, sink, sink, Terminal{});
  CLI::App app;
  Runner chosen;
  BuildParser(app, c, chosen);

  const std::string program(kProgram);
  out << ".TH " << Roff(program) << " 1 \"\" \"travosk " << TRAVOSK_VERSION
      << "\" \"User Commands\"\n";
  out << ".SH NAME\n" << Roff(program) << " \\- " << Roff(std::string(kSummary)) << "\n";
  out << ".SH SYNOPSIS\n.B " << Roff(program) << "\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR "
      << "[\\fIARGUMENTS\\fR]\n";
  out << ".SH DESCRIPTION\n"
      << "Lists, backs up, restores and deletes the saves of PS2 and PS1 memory cards and "
         "SmartMedia, through the adapter or on card images.\n"
         "Commands that destroy saves ask first, on a terminal; elsewhere they need "
      << Roff("--yes") << ".\n";
  out << ".SH OPTIONS\nThese stand before or after the command's name.\n";
  WriteOptions(out, app);
  out << ".TP\n.B \\-\\-help\nthis help, or a command's\n"
      << ".TP\n.B \\-\\-version\nthe program's version\n";
  out << ".SH COMMANDS\n";
  for (const auto& row : Commands()) {
    const std::string name(row.name);
    const auto space = name.find(' ');
    if (!row.declare) continue;  // a group: its commands carry its name
    const CLI::App* command = space == std::string::npos
                                  ? app.get_subcommand(name)
                                  : app.get_subcommand(name.substr(0, space))
                                        ->get_subcommand(name.substr(space + 1));
    WriteCommand(out, *command, space == std::string::npos ? "" : name.substr(0, space + 1));
  }
  out << ".SH EXIT STATUS\n"
      << ".TP\n.B " << kExitOk << "\nthe command was done\n"
      << ".TP\n.B " << kExitFailed << "\nthe command failed; the reason is on standard error\n"
      << ".TP\n.B " << kExitUsage
      << "\nthe command line was wrong, or a destructive command was not confirmed\n";
  out << ".SH ENVIRONMENT\n"
      << ".TP\n.B TRAVOSK_HOME\nthe working folder (settings, the cache's temp file, kept "
         "copies of replaced saves); else "
      << Roff("$XDG_DATA_HOME/travosk") << ", else " << Roff("~/.local/share/travosk") << "\n"
      << ".TP\n.B TRAVOSK_DATA\nthe folder of the supplied files (the PC card images and the "
         "generic icon)\n"
      << ".TP\n.B XDG_CACHE_HOME\nwhere " << Roff("library") << " keeps its index of each "
         "folder's cards, in travosk/ (else " << Roff("~/.cache/travosk") << "); the index may "
         "be removed at any time\n";
}

}  // namespace travosk::cli
