#include "hostile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>

#include "common/errors.h"

namespace travosk::manager::hostile {

namespace {

// Far beyond what any of these operations takes on the loopback, even under
// the sanitizers; a case that runs this long is caught in a loop.
constexpr std::chrono::seconds kTimeBound{60};

// Aborts the program, naming the case, unless disarmed within the bound: a
// hang must not wait for the test runner's time-out.
class Watchdog {
 public:
  explicit Watchdog(std::string name) : name_(std::move(name)), thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, kTimeBound, [this] { return done_; })) {
      std::fprintf(stderr, "hostile input \"%s\" hangs\n", name_.c_str());
      std::abort();
    }
  }
  std::string name_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace

const char* ResultName(Result r) {
  switch (r) {
    case Result::kSucceeded:
      return "succeeded";
    case Result::kRefused:
      return "refused (false)";
    case Result::kInOutError:
      return "InOutError";
    case Result::kCardError:
      return "CardError";
    case Result::kConversionError:
      return "ConversionError";
  }
  return "?";
}

Outcome Attempt(const std::string& name, const std::function<bool()>& op,
                const std::function<std::string()>& reason) {
  Watchdog dog(name);
  try {
    if (op()) return {Result::kSucceeded, {}};
    return {Result::kRefused, reason ? reason() : std::string()};
  } catch (const InOutError& e) {
    return {Result::kInOutError, e.what()};
  } catch (const CardError& e) {
    return {Result::kCardError, e.what()};
  } catch (const ConversionError& e) {
    return {Result::kConversionError, e.what()};
  }
}

void Record(Tally& tally, const std::string& name, const Outcome& got, Result expected,
            bool unchanged, bool reason_required) {
  ++tally.cases;
  bool ok = true;
  if (got.result != expected) {
    ADD_FAILURE() << name << ": " << ResultName(got.result) << " (" << got.message << "), expected "
                  << ResultName(expected);
    ok = false;
  }
  const bool error =
      got.result != Result::kSucceeded && (got.result != Result::kRefused || reason_required);
  if (error && got.message.empty()) {
    ADD_FAILURE() << name << ": " << ResultName(got.result) << " without a message";
    ok = false;
  }
  if (!unchanged) {
    ADD_FAILURE() << name << ": changed what it must leave alone";
    ok = false;
  }
  if (ok) ++tally.passed;
}

namespace {

TEST(HostileInputs, EachGetsItsResultAndChangesNothing) {
  Tally total;
  total += RunArchiveCases();
  total += RunCardImageCases();
  total += RunPS1Cases();
  total += RunSettingsCases();
  std::cout << "hostile inputs: " << total.cases << " cases, " << total.passed << " passed\n";
  EXPECT_EQ(total.passed, total.cases);
}

}  // namespace
}  // namespace travosk::manager::hostile
