#include <unistd.h>

#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  travosk::cli::Terminal terminal;
  terminal.input_is_tty = ::isatty(0) != 0;
  terminal.error_is_tty = ::isatty(2) != 0;
  return travosk::cli::Run(args, std::cin, std::cout, std::cerr, terminal);
}
