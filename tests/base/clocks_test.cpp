#include "base/clocks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace {

TEST(TickTimer, ElapsedAcrossWrap) {
  struct Case {
    uint32_t start;
    uint32_t now;
    int elapsed;
  } cases[] = {
      {4294967000u, 296u, 592},      {100u, 100u, 0},       {0u, 0x7FFFFFFFu, 0x7FFFFFFF},
      {0u, 0x80000000u, 0},          {0u, 0xFFFFFFFFu, 0x7FFFFFFF},
      {5u, 4u, 0x7FFFFFFF},  // a start after now is still not negative
  };
  for (const Case& c : cases) EXPECT_EQ(c.elapsed, elapsedTicks(c.start, c.now)) << c.start << " " << c.now;
}

TEST(TickTimer, ElapsedAndLap) {
  _tickTimer timer;
  // Only the low 32 bits of the start tick take part.
  timer.startTick = (1ull << 40) | (uint32_t)(GetTickCount() - 1000u);
  int elapsed = timer.elapsedMs();
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 60000);
  EXPECT_GE(timer.lap(), elapsed);
  EXPECT_LT(timer.elapsedMs(), 1000);
  EXPECT_LT(timer.startTick, 1ull << 32);

  timer.start();
  sleepMs(25);
  EXPECT_GE(timer.elapsedMs(), 25);
  timer.start();
  sleepMs(0);
  sleepMs(-5);
  EXPECT_LT(timer.elapsedMs(), 20);
}

class WallClock : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    hadZone = tz != nullptr;
    if (tz) savedZone = tz;
    savedOffset = localOffsetSeconds;
  }
  void TearDown() override {
    if (hadZone)
      setenv("TZ", savedZone.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    localOffsetSeconds = savedOffset;
  }
  static void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
    localOffsetSeconds = -1;
  }
  static std::string timeOfDay(int64_t seconds) {
    _wallClock clock;
    clock.seconds = seconds;
    _fixedString<50> text;
    clock.timeOfDayString(text);
    EXPECT_EQ(strlen(text.text), text.length);
    return text.text;
  }

  bool hadZone = false;
  std::string savedZone;
  int32_t savedOffset = -1;
};

const int64_t july1st2024 = 1719792000;  // 00:00:00 UTC
const int64_t summerNoon = july1st2024 + 12 * 3600;
const int64_t winterNoon = 1705320000;  // 2024-01-15 12:00:00 UTC

TEST_F(WallClock, TimeOfDayFormat) {
  useZone("UTC0");
  EXPECT_EQ("09:05.07", timeOfDay(july1st2024 + 9 * 3600 + 5 * 60 + 7));
  EXPECT_EQ("23:59.59", timeOfDay(july1st2024 - 1));
  EXPECT_EQ("00:00.00", timeOfDay(july1st2024));
}

TEST_F(WallClock, DaylightSavingZone) {
  useZone("CET-1CEST,M3.5.0,M10.5.0/3");
  updateLocalOffsetAt(summerNoon, true);
  EXPECT_EQ(7200, localOffsetSeconds);
  EXPECT_EQ("14:00.00", timeOfDay(summerNoon));

  localOffsetSeconds = -1;
  updateLocalOffsetAt(winterNoon, true);
  EXPECT_EQ(3600, localOffsetSeconds);
  EXPECT_EQ("13:00.00", timeOfDay(winterNoon));

  // Once right, a further correction is zero.
  updateLocalOffsetAt(winterNoon, true);
  EXPECT_EQ(3600, localOffsetSeconds);
  updateLocalOffsetAt(summerNoon, false);
  EXPECT_EQ(3600, localOffsetSeconds);
}

TEST_F(WallClock, OffsetWindowOfTwelveHoursAndThirtySeconds) {
  struct Case {
    const char* zone;
    int64_t utcTimeOfDay;
    int32_t offset;
  } cases[] = {
      {"UTC0", 43200, 0},
      {"<+0530>-5:30", 43200, 19800},
      {"<-0330>3:30", 43200, -12600},
      {"<+14>-14", 43200, 50400 - 86400},
      {"<-12>12", 43200, -43200},
      {"<+120020>-12:00:20", 43170, 43220},
      {"<+120040>-12:00:40", 43140, 43240 - 86400},
      {"<-120020>12:00:20", 43230, -43220},
      {"<-120040>12:00:40", 43250, 86400 - 43240},
  };
  for (const Case& c : cases) {
    useZone(c.zone);
    updateLocalOffsetAt(july1st2024 + c.utcTimeOfDay, true);
    EXPECT_EQ(c.offset, localOffsetSeconds) << c.zone;
  }
  useZone("<+14>-14");
  EXPECT_EQ("02:00.00", timeOfDay(summerNoon));
}

TEST_F(WallClock, OffsetOfNowWorkedOutOnce) {
  const char* zones[] = {"CET-1CEST,M3.5.0,M10.5.0/3", "<+0530>-5:30", "<-0330>3:30"};
  for (const char* zone : zones) {
    useZone(zone);
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    std::string first = timeOfDay(summerNoon);
    EXPECT_EQ(local.tm_gmtoff, localOffsetSeconds) << zone;

    setenv("TZ", "<+07>-7", 1);
    tzset();
    EXPECT_EQ(first, timeOfDay(summerNoon)) << zone;
    EXPECT_EQ(local.tm_gmtoff, localOffsetSeconds) << zone;
  }
}

}  // namespace
}  // namespace ps
