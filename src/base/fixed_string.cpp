#include "base/fixed_string.h"

#include <cstdarg>
#include <cstdio>

namespace ps {

int formatBounded(char* buffer, int capacity, const char* format, ...) {
  if (!buffer || capacity <= 0) return -1;
  va_list args;
  va_start(args, format);
  int wanted = vsnprintf(buffer, (size_t)capacity, format, args);
  va_end(args);
  if (wanted < 0) {
    buffer[0] = 0;
    return -1;
  }
  return wanted < capacity ? wanted : capacity - 1;
}

}  // namespace ps
