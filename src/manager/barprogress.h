// The progress triple and stop flag that Onbarprocess carries by reference:
// one per operation, fired only when a handler is assigned.
#pragma once

#include "manager/ps2mfmsys.h"

namespace travosk::manager {

struct BarProgress {
  int Max = 0;
  int Min = 0;
  int process = 0;
  bool isbreak = false;

  void Fire(const TprocessBarEvent& event) {
    if (event) event(Max, Min, process, isbreak);
  }
};

}  // namespace travosk::manager
