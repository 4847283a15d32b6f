#include "base/fixed_string.h"

#include <cstdarg>
#include <cstdio>

namespace ps {

int formatBounded(char* buffer, int capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = formatBoundedList(buffer, capacity, format, args);
  va_end(args);
  return written;
}

int formatBoundedList(char* buffer, int capacity, const char* format, va_list args) {
  if (!buffer || capacity <= 0) return -1;
  if (!format) {
    buffer[0] = 0;
    return -1;
  }
  int wanted = vsnprintf(buffer, (size_t)capacity, format, args);
  if (wanted < 0) {
    buffer[0] = 0;
    return -1;
  }
  return wanted < capacity ? wanted : capacity - 1;
}

}  // namespace ps
