#include "base/clocks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/windows_api.h"
#include "recorded_machine.h"

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

TEST_F(WallClock, OffsetAndTimeOfDay) {
  for (const auto& c : testSupport::dataCases("base/wall_clocks.txt")) {
    SCOPED_TRACE(c.fields[0] + " " + c.fields[1]);
    useZone(c.fields[0].c_str());
    const int64_t instant = std::stoll(c.fields[1]);
    updateLocalOffsetAt(instant, true);
    updateLocalOffsetAt(instant, true);  // once right, a further correction is zero
    EXPECT_EQ(std::to_string(localOffsetSeconds), c.fields[2]);
    EXPECT_EQ(timeOfDay(instant), c.fields[3]);
  }
}

}  // namespace
}  // namespace ps
