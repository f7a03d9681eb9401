// Time as the link sees it: the protocol's fixed sleeps and the clock-second
// busy wait of ConnectionWait. Injected, so that tests run at full speed and
// can assert which waits were made.
#pragma once

#include <cstdint>
#include <vector>

namespace travosk::link {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void SleepMs(int ms) = 0;
  // Time of day at one-second resolution (seconds since midnight or any epoch:
  // ConnectionWait only watches it change).
  virtual int64_t NowSeconds() = 0;
};

class SystemClock final : public Clock {
 public:
  void SleepMs(int ms) override;
  int64_t NowSeconds() override;
};

// A clock that never waits. Sleeps advance its virtual time and are recorded;
// each reading of the seconds advances it by one millisecond, so busy waits end.
class FakeClock final : public Clock {
 public:
  void SleepMs(int ms) override {
    if (keep_sleeps) sleeps.push_back(ms);
    now_ms += ms;
    total_sleep_ms += ms;
  }
  int64_t NowSeconds() override {
    ++readings;
    now_ms += 1;
    return now_ms / 1000;
  }
  int64_t now_ms = 0;
  int64_t total_sleep_ms = 0;
  int64_t readings = 0;
  // Every sleep, in order, while keep_sleeps is set. A clock that serves a
  // long session (a card image opened in the window) keeps only the totals.
  bool keep_sleeps = true;
  std::vector<int> sleeps;
};

}  // namespace travosk::link
