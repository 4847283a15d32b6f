#include "base/clocks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace {

TEST(TickTimer, ElapsedAcrossWrapNeverNegative) {
  EXPECT_EQ(592, elapsedTicks(4294967000u, 296u));
  EXPECT_EQ(0, elapsedTicks(0u, 0x80000000u));
  EXPECT_EQ(0x7FFFFFFF, elapsedTicks(5u, 4u));  // a start after now

  _tickTimer timer;
  // Only the low 32 bits count; a lap restarts the timer (a start 12 days back, so no load can blur it).
  timer.startTick = (1ull << 40) | (uint32_t)(GetTickCount() - 0x40000000u);
  EXPECT_GE(timer.lap(), 0x40000000);
  EXPECT_LT(timer.elapsedMs(), 0x40000000);
}

void useZone(const char* zone) {
  zone ? setenv("TZ", zone, 1) : unsetenv("TZ");
  tzset();
  localOffsetSeconds = -1;
}

std::string timeOfDay(int64_t seconds) {
  _wallClock clock;
  clock.seconds = seconds;
  _fixedString<50> text;
  return clock.timeOfDayString(text).text;
}

struct WallClock : ::testing::Test {
  void TearDown() override { useZone(nullptr); }  // no zone leaks into the next test
};

const int64_t july1st2024 = 1719792000;  // 00:00:00 UTC
const int64_t summerNoon = july1st2024 + 12 * 3600;

// The offset stays within 12 hours and 30 seconds of UTC, wrapping round the day beyond that.
TEST_F(WallClock, OffsetAndTimeOfDay) {
  const char* cet = "CET-1CEST,M3.5.0,M10.5.0/3";
  struct _case { const char* zone; int64_t instant; int32_t offset; const char* timeOfDay; } cases[] = {
      {"UTC0", july1st2024 + 9 * 3600 + 5 * 60 + 7, 0, "09:05.07"},
      {"UTC0", -1, 0, "23:59.59"},
      {cet, summerNoon, 7200, "14:00.00"},
      {cet, 1705320000 /* 2024-01-15 12:00 UTC */, 3600, "13:00.00"},
      {cet, july1st2024 - 1800, 7200, "01:30.00"},
      {"<+120020>-12:00:20", july1st2024 + 43170, 43220, "23:59.50"},
      {"<+120040>-12:00:40", july1st2024 + 43140, 43240 - 86400, "23:59.40"},
      {"<-120020>12:00:20", july1st2024 + 43230, -43220, "00:00.10"},
      {"<-120040>12:00:40", july1st2024 + 43250, 86400 - 43240, "00:00.10"},
  };
  for (const _case& c : cases) {
    useZone(c.zone);
    updateLocalOffsetAt(c.instant, true);
    updateLocalOffsetAt(c.instant, true);  // once right, a further correction is zero
    EXPECT_EQ(c.offset, localOffsetSeconds) << c.zone << " " << c.instant;
    EXPECT_EQ(c.timeOfDay, timeOfDay(c.instant)) << c.zone << " " << c.instant;
  }
}

}  // namespace
}  // namespace ps
