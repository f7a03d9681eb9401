// "PS2M.cfg" files that are not two decimal numbers: each line that is not a
// number is a conversion error quoting (a bounded part of) it, the setting
// falls back to its default, and loading never rewrites the user's file.
// Empty and missing lines are no error: they take their defaults.
#include <string>
#include <vector>

#include "card/fileaccess.h"
#include "hostile.h"
#include "sim/loopback_platform.h"
#include "support/card_fixture.h"
#include "support/manager_fixture.h"

namespace travosk::manager::hostile {

namespace {

constexpr uint16_t kDefaultPort = 888;

struct SettingsCase {
  std::string name;
  std::string text;
  Result expected;
  uint16_t port;
  int32_t delay;
};

std::vector<SettingsCase> Cases() {
  const std::string digits(100000, '7');
  return {
      {"letters on line 1", "abc\r\n16\r\n", Result::kConversionError, kDefaultPort, 16},
      {"letters on line 2", "632\r\nxyz\r\n", Result::kConversionError, 632, 0},
      {"hexadecimal", "0x378\r\n0\r\n", Result::kConversionError, kDefaultPort, 0},
      {"beyond 32 bits", "888\r\n99999999999\r\n", Result::kConversionError, kDefaultPort, 0},
      {"a sign alone", "-\r\n0\r\n", Result::kConversionError, kDefaultPort, 0},
      {"a NUL inside the number",
       std::string("8\0"
                   "88\r\n0\r\n",
                   9),
       Result::kConversionError, kDefaultPort, 0},
      {"a 100,000-digit line", digits + "\r\n0\r\n", Result::kConversionError, kDefaultPort, 0},
      {"binary bytes", std::string("\xFF\xFE\x00\x01\r\n\x80", 7), Result::kConversionError,
       kDefaultPort, 0},
      {"empty file", "", Result::kSucceeded, kDefaultPort, 0},
      {"empty lines", "\r\n\r\n", Result::kSucceeded, kDefaultPort, 0},
      {"no line break", "632", Result::kSucceeded, 632, 0},
      {"bare line feeds and blanks", " 632 \n\t16\n", Result::kSucceeded, 632, 16},
  };
}

}  // namespace

Tally RunSettingsCases() {
  Tally tally;
  support::TempDir dir;
  sim::LoopbackSession session;
  const std::string path = dir.File("PS2M.cfg");
  for (const SettingsCase& c : Cases()) {
    const std::string name = "settings: " + c.name;
    support::WriteFileBytes(path, c.text);
    card::TPSfileaccess access(session.link);
    const Outcome got = Attempt(name, [&] {
      access.Init(dir.path());
      return true;
    });
    // The message quotes at most 64 characters of the line.
    if (got.message.size() > 100) ADD_FAILURE() << name << ": the message quotes too much";
    const bool settings =
        access.Com && access.Com->PortBase == c.port && access.Com->ConnectDelay == c.delay;
    if (!settings) ADD_FAILURE() << name << ": the settings are not the expected ones";
    Record(tally, name, got, c.expected,
           settings && got.message.size() <= 100 && support::ReadFileBytes(path) == c.text);
  }
  return tally;
}

}  // namespace travosk::manager::hostile
