// The record that names the root directory for the file operations.
#include "card/fileip.h"

namespace travosk::card {

TfileIP RootDirectory() {
  // The root is relative cluster 0, and its entry count lives in its own "."
  // entry: every cluster and offset field stays 0.
  TfileIP root;
  root.Dir = 1;
  return root;
}

}  // namespace travosk::card
