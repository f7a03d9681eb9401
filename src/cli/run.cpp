#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/cli.h"
#include "cli/context.h"
#include "cli/table.h"
#include "common/errors.h"

namespace travosk::cli {

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err, const Terminal& terminal) {
  Context c(in, out, err, terminal);
  CLI::App app;
  Runner chosen;
  BuildParser(app, c, chosen);
  // The parser takes its words last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      // --help or --version
      app.exit(e, out, err);
      return kExitOk;
    }
    err << kProgram << ": " << e.what() << "\n";
    return kExitUsage;
  }
  if (!c.source.image.empty() && !c.source.sm_image.empty()) {
    err << kProgram << ": give --image or --sm-image, not both\n";
    return kExitUsage;
  }
  try {
    const int code = chosen ? chosen(c) : kExitUsage;
    // A folder card is written back as its command ends.
    if (!c.source.close_error->empty())
      return c.Fail("the folder card was not brought up to date: " + *c.source.close_error);
    return code;
  } catch (const std::exception& e) {
    return c.Fail(e.what());
  }
}

}  // namespace travosk::cli
