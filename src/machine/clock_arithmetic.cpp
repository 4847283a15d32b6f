#include "machine/clock_arithmetic.h"

#include <climits>
#include <cmath>

namespace ps {

namespace {

// Half away from zero, in double precision; kept in double so that no
// value can overflow an integer conversion.
double roundHalfAway(double x) { return std::trunc(x < 0 ? x - 0.5 : x + 0.5); }

}  // namespace

int32_t truncateToInt32(double value) {
  if (!(value > (double)INT32_MIN)) return value != value ? 0 : INT32_MIN;
  if (value >= (double)INT32_MAX) return INT32_MAX;
  return (int32_t)value;
}

float halfWayToMax(float v, int64_t mhzMax) {
  double r = roundHalfAway((double)(v * 2.3f));
  double t = (double)mhzMax <= r ? (double)mhzMax : r;
  return v + (float)roundHalfAway((double)(((float)t - v) * 0.5f));
}

int countBits(uint64_t mask) {
  int bits = 0;
  for (; mask; mask &= mask - 1) ++bits;
  return bits;
}

}  // namespace ps
