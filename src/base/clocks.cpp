#include "base/clocks.h"

#include <ctime>

#include "platform/system_calls.h"

namespace ps {

int32_t localOffsetSeconds = -1;

int elapsedTicks(uint32_t startTick, uint32_t now) {
  // Unsigned difference survives one wrap; bit 31 cleared keeps it positive.
  return (int)((now - startTick) & 0x7FFFFFFFu);
}

void _tickTimer::start() { startTick = systemCalls.getTickCount(); }

int _tickTimer::elapsedMs() const { return elapsedTicks((uint32_t)startTick, systemCalls.getTickCount()); }

int _tickTimer::lap() {
  uint32_t now = systemCalls.getTickCount();
  int elapsed = elapsedTicks((uint32_t)startTick, now);
  startTick = now;
  return elapsed;
}

void updateLocalOffset(bool apply) { updateLocalOffsetAt(_time64(nullptr), apply); }

void updateLocalOffsetAt(int64_t now, bool apply) {
  __time64_t examined = now - localOffsetSeconds;
  struct tm local = {};
  if (_localtime64_s(&local, &examined) != 0) {
    // No local time to compare with: settle on UTC rather than retrying on
    // every rendering with the unset marker.
    if (apply && localOffsetSeconds == -1) localOffsetSeconds = 0;
    return;
  }
  // Local time of day of the examined instant against the UTC day of now;
  // the difference is small, so 64-bit arithmetic then narrowing gives the
  // 32-bit result without overflow.
  int64_t localSeconds = ((now / 86400 * 24 + local.tm_hour) * 60 + local.tm_min) * 60 + local.tm_sec;
  int32_t d = (int32_t)(localSeconds - now);
  if (d < -43230)
    d += 86400;
  else if (d > 43230)
    d -= 86400;
  if (apply) localOffsetSeconds += d;
}

void _wallClock::setNow() { seconds = _time64(nullptr); }

_fixedString<50>& _wallClock::timeOfDayString(_fixedString<50>& out) const {
  if (localOffsetSeconds == -1) updateLocalOffset(true);
  out.clear();
  int64_t v = seconds + localOffsetSeconds;
  // Floor division so that an instant before 1970 still gives a valid time
  // of day; for later instants this equals truncation.
  int64_t secondsOfDay = v % 86400;
  if (secondsOfDay < 0) secondsOfDay += 86400;
  int hours = (int)(secondsOfDay / 3600);
  int minutes = (int)(secondsOfDay / 60 % 60);
  int secs = (int)(secondsOfDay % 60);
  formatBounded(out.text, 50, "%02d:%02d.%02d", hours, minutes, secs);
  out.syncLength();
  return out;
}

void sleepMs(int milliseconds) {
  if (milliseconds > 0) systemCalls.sleep((DWORD)milliseconds);
}

}  // namespace ps
