// Writes travosk-cli's manual page to standard output; the build runs it.
#include <iostream>

#include "cli/manual.h"

int main() {
  travosk::cli::WriteManual(std::cout);
  return std::cout.good() ? 0 : 1;
}
