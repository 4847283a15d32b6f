// Processor counts, names and the summed-clock estimate, from the registry
// name, the firmware table and the logical-processor topology.
#pragma once

#include <cstdint>

#include "base/fixed_string.h"
#include "machine/cpu_info.h"

namespace ps {

void analyseCpuName(_cpuInfo& info);
// Set bits among all 64 bits of a processor mask.
int countBits(uint64_t mask);

// The pure steps of analyseCpuName, exposed for table tests.
// Clock written in the name in MHz ("... @ 3.60GHz", "... 1000MHz"), or -1.
int64_t mhzFromName(const _fixedString<250>& description);
// Short model name for the report: "i7-9700K" out of the full name.
_fixedString<250> shortCpuName(const _fixedString<250>& description);
// v moved half-way towards the firmware maximum, the maximum capped at
// 2.3 × v; single precision, rounded half away from zero.
float halfWayToMax(float v, int64_t mhzMax);
// Truncated toward zero, saturating at the 32-bit range; NaN gives 0.
int32_t truncateToInt32(double value);
// Summed clock of all logical processors; at least 1.
int64_t summedMhz(int64_t mhzLabel, int64_t mhzMax, int64_t mhzCurrent, int32_t coreCount,
                  int32_t coreCountHW);

}  // namespace ps
