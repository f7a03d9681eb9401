// Programs that reach emulated serial ports run under umockdev's preload
// library. A run without it starts the program again with it, so that ctest
// and a person at the shell need nothing special; the address sanitizer then
// has to accept a library loaded before its own.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace travosk::serialtest {

// Returns only when the preload is in place (or could not be put there).
inline void RunUnderUmockdev(char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");
  const bool preloaded =
      preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
  if (preloaded || std::getenv("TRAVOSK_SERIAL_REEXEC") != nullptr) return;
  std::string value = "libumockdev-preload.so.0";
  if (preload != nullptr && *preload != '\0') value += std::string(":") + preload;
  ::setenv("LD_PRELOAD", value.c_str(), 1);
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string options = "verify_asan_link_order=0";
  if (asan != nullptr && *asan != '\0') options = std::string(asan) + ":" + options;
  ::setenv("ASAN_OPTIONS", options.c_str(), 1);
  ::setenv("TRAVOSK_SERIAL_REEXEC", "1", 1);
  ::execv("/proc/self/exe", argv);
  std::perror("execv");
}

}  // namespace travosk::serialtest
