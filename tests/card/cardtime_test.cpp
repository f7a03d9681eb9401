// Card time stamps are Japan time; the user reads and writes local time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "card/fileip.h"

namespace travosk::card {
namespace {

// The test's own time zone, whatever the machine's, put back afterwards.
class InZone {
 public:
  explicit InZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~InZone() {
    if (had_)
      ::setenv("TZ", old_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

TEST(CardTime, StampsAreJapanTimeShownAndReadInLocalTime) {
  // 2023-12-31 20:34:56 UTC, as a console stores it.
  const std::array<uint8_t, 8> stamp{0x00, 0x38, 0x22, 0x05, 0x01, 0x01, 0xE8, 0x07};
  std::tm utc{};
  utc.tm_year = 123, utc.tm_mon = 11, utc.tm_mday = 31, utc.tm_hour = 20, utc.tm_min = 34,
  utc.tm_sec = 56;
  const std::time_t moment = timegm(&utc);
  EXPECT_EQ(CardTimeToTime(stamp), moment);
  {
    InZone zone("UTC0");
    EXPECT_EQ(FormatCardTimeLocal(stamp), "2023-12-31 20:34:56");
  }
  {
    InZone zone("XYZ+5");  // five hours behind UTC
    EXPECT_EQ(FormatCardTimeLocal(stamp), "2023-12-31 15:34:56");
    // What the user types in local time is stored as the console would.
    const auto typed = ParseLocalTime("2023-12-31 15:34:56");
    ASSERT_TRUE(typed);
    EXPECT_EQ(*typed, moment);
    std::array<uint8_t, 8> written{};
    StoreCardTime(written, 0, *typed);
    EXPECT_EQ(written, stamp);
    EXPECT_EQ(ParseLocalTime("2023-12-31 15:34"), moment - 56);
  }
  {
    InZone zone("JST-9");
    EXPECT_EQ(FormatCardTimeLocal(stamp), "2024-01-01 05:34:56");
  }
  // A stamp that names no moment is shown as it was stored.
  const std::array<uint8_t, 8> zero{};
  EXPECT_FALSE(CardTimeToTime(zero));
  EXPECT_EQ(FormatCardTimeLocal(zero), "0000-00-00 00:00:00");
  const std::array<uint8_t, 8> april31{0, 0, 0, 0, 31, 4, 0xE8, 0x07};
  EXPECT_FALSE(CardTimeToTime(april31));
  for (const char* bad : {"", "2023-13-01 00:00:00", "2023-12-31", "2023-12-31 24:00:00",
                          "2023-12-31 10:00:00x", "2023-02-30 10:00"})
    EXPECT_FALSE(ParseLocalTime(bad)) << bad;
}

}  // namespace
}  // namespace travosk::card
