// The bench tests' clock, put in place through the system-call seam: each
// thread's tick count moves by 1 ms per reading and by what the thread
// sleeps, and nothing really sleeps, so every time the code computes is
// exact on any machine under any load.
#pragma once

#include "platform/system_calls.h"

namespace ps {

inline thread_local DWORD testTicks = 0;

inline DWORD nextTick() { return ++testTicks; }
inline void sleepTicks(DWORD milliseconds) { testTicks += milliseconds; }

inline _systemCalls tickClock(DWORD (*getTickCount)() = nextTick, void (*sleep)(DWORD) = sleepTicks) {
  _systemCalls calls = realSystemCalls;
  calls.getTickCount = getTickCount;
  calls.sleep = sleep;
  return calls;
}

}  // namespace ps
