// The clock survey run while the benchmark workers are busy.
#pragma once

#include <cstdint>

#include "machine/cpu_info.h"

namespace ps {

void cpuInfo(_cpuInfo& info);
// cpuInfo with the pause between the two counter readings given in ms
// (cpuInfo waits 1000); lets tests skip the second.
void cpuInfoWithWait(_cpuInfo& info, int waitMs);

// Marks coreHT from GetLogicalProcessorInformation records (32 bytes each,
// only whole records within length): one entry per single-thread core, two
// per core with more threads. Returns the entries written (at most 512).
int markSharedCores(const uint8_t* records, uint32_t length, bool* coreHT);

// Hyperthreading weight: v × 1.3 × 0.5 in single precision, truncated to
// 32 bits (saturating).
int32_t hyperthreadingWeight(int64_t v);
// Boost estimate from a nominal clock: half-way to the firmware maximum
// (capped at 2.3 × v), or v × 1.4 when the maximum is missing (< 1).
int64_t boostEstimate(int64_t v, int64_t mhzMax);

}  // namespace ps
