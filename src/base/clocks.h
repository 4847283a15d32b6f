// Millisecond stopwatch on the system tick count, and the local time of day.
#pragma once

#include <cstdint>

#include "base/fixed_string.h"

namespace ps {

// Milliseconds from startTick to now on the 32-bit tick counter, taken
// modulo 2^31: never negative, right across one wrap.
int elapsedTicks(uint32_t startTick, uint32_t now);

struct _tickTimer {
  uint64_t startTick;

  _tickTimer() { start(); }
  void start();
  int elapsedMs() const;
  // Returns elapsedMs() and restarts the timer from now.
  int lap();
};

// Local time minus UTC in seconds; -1 until first worked out.
extern int32_t localOffsetSeconds;
// Corrects localOffsetSeconds (when apply is true) from the local time of now.
void updateLocalOffset(bool apply);
// The same, for a given instant in seconds since 1970 instead of now.
void updateLocalOffsetAt(int64_t now, bool apply);

struct _wallClock {
  int64_t seconds;

  _wallClock() { setNow(); }
  void setNow();
  // "%02d:%02d.%02d": hours, minutes, seconds of the local time of day.
  _fixedString<50>& timeOfDayString(_fixedString<50>& out) const;
};

// Does nothing for 0 or less.
void sleepMs(int milliseconds);

}  // namespace ps
