#include "link/clock.h"

#include <chrono>
#include <thread>

namespace travosk::link {

void SystemClock::SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Seconds of the wall clock: ConnectionWait watches the second change, as the
// time of day does, so a monotonic clock's arbitrary epoch would do as well;
// the wall clock keeps the ticks aligned with the clock the user sees.
int64_t SystemClock::NowSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace travosk::link
