// The serial tests open ports through libserialport, whose look-ups umockdev's
// preload library turns over to the test bed (preload.h).
#include <gtest/gtest.h>

#include "serial/preload.h"

int main(int argc, char** argv) {
  travosk::serialtest::RunUnderUmockdev(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
