// The USB tests talk to the real libusb, whose requests umockdev's preload
// library turns over to the test bed. A run without the preload starts the
// program again with it, so that ctest and a person at the shell need nothing
// special; the address sanitizer then has to accept a library loaded before
// its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  // (umockdev's own check remembers its first answer, which must come from a
  // test bed: it is not asked here.)
  const char* preload = std::getenv("LD_PRELOAD");
  const bool preloaded =
      preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
  if (!preloaded && std::getenv("TRAVOSK_USB_REEXEC") == nullptr) {
    std::string value = "libumockdev-preload.so.0";
    if (preload != nullptr && *preload != '\0') value += std::string(":") + preload;
    ::setenv("LD_PRELOAD", value.c_str(), 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = "verify_asan_link_order=0";
    if (asan != nullptr && *asan != '\0') options = std::string(asan) + ":" + options;
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
    ::setenv("TRAVOSK_USB_REEXEC", "1", 1);
    ::execv("/proc/self/exe", argv);
    std::perror("execv");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
