// The arithmetic of the clock estimates, in the precisions and roundings the
// reports have always used: changing any of them changes every estimate.
#pragma once

#include <cstdint>

namespace ps {

// v moved half-way towards the firmware maximum, the maximum capped at
// 2.3 × v; single precision, rounded half away from zero.
float halfWayToMax(float v, int64_t mhzMax);
// Truncated toward zero, saturating at the 32-bit range; NaN gives 0.
int32_t truncateToInt32(double value);
// Set bits among all 64 bits of a processor mask.
int countBits(uint64_t mask);

}  // namespace ps
