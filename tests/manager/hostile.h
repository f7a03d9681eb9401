// The hostile-input corpus: tables of bad inputs, each with the result it
// must get. Every case runs under a watchdog (a hang aborts the program with
// the case's name), its result is classified, an error must carry a message,
// and what the input must not change (the card, the settings file) is
// compared byte for byte afterwards. Each group runs its own table and
// answers its tally; one test runs every group and prints the total.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace travosk::manager::hostile {

enum class Result { kSucceeded, kRefused, kInOutError, kCardError, kConversionError };
const char* ResultName(Result r);

struct Outcome {
  Result result = Result::kRefused;
  std::string message;  // what() of an error
};

// Runs op; false is kRefused (with the reason that `reason` gives, if any),
// the three error types are classified, any other exception escapes (and
// fails the test). Aborts the program when op runs far longer than anything
// takes on the loopback, where every operation ends at once.
Outcome Attempt(const std::string& name, const std::function<bool()>& op,
                const std::function<std::string()>& reason = {});

struct Tally {
  int cases = 0;
  int passed = 0;
  Tally& operator+=(const Tally& o) {
    cases += o.cases;
    passed += o.passed;
    return *this;
  }
};

// Records one case: the result must be the expected one, an error (and a
// refusal, when `reason_required`) must say something, and `unchanged` (the
// comparison of whatever the input must not touch) must hold. Failures are
// reported to the test with the case's name.
void Record(Tally& tally, const std::string& name, const Outcome& got, Result expected,
            bool unchanged, bool reason_required = false);

// The groups, one per kind of input.
Tally RunArchiveCases();
Tally RunCardImageCases();
Tally RunPS1Cases();
Tally RunSettingsCases();

}  // namespace travosk::manager::hostile
