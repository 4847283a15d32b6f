// Tick count, sleeping and calendar time for the Linux build.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/windows_api.h"

namespace ps {

DWORD GetTickCount() {
  // Boot time counts suspended time too, as the Windows tick count does.
  struct timespec now;
  if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
  return (DWORD)ms;
}

void Sleep(DWORD milliseconds) {
  struct timespec left;
  left.tv_sec = (time_t)(milliseconds / 1000u);
  left.tv_nsec = (long)(milliseconds % 1000u) * 1000000L;
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

__time64_t _time64(__time64_t* destination) {
  __time64_t now = (__time64_t)time(nullptr);
  if (destination) *destination = now;
  return now;
}

errno_t _localtime64_s(struct tm* result, const __time64_t* time) {
  if (!result) return EINVAL;
  // Invalid input leaves every field -1, as the Windows runtime does.
  if (!time || *time < 0) {
    memset(result, 0xFF, sizeof(*result));
    return EINVAL;
  }
  time_t value = (time_t)*time;
  tzset();
  if (!localtime_r(&value, result)) {
    memset(result, 0xFF, sizeof(*result));
    return EINVAL;
  }
  return 0;
}

}  // namespace ps
