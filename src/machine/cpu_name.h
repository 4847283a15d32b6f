// Processor counts, names and the summed-clock estimate, from the registry
// name, the firmware table and the logical-processor topology.
#pragma once

#include <cstdint>

#include "base/fixed_string.h"
#include "machine/cpu_info.h"

namespace ps {

void analyseCpuName(_cpuInfo& info);

// The pure steps of analyseCpuName, exposed for table tests.
// Clock written in the name in MHz ("... @ 3.60GHz", "... 1000MHz"), or -1.
int64_t mhzFromName(const _fixedString<250>& description);
// Short model name for the report: "i7-9700K" out of the full name.
_fixedString<250> shortCpuName(const _fixedString<250>& description);
// Summed clock of all logical processors; at least 1.
int64_t summedMhz(int64_t mhzLabel, int64_t mhzMax, int64_t mhzCurrent, int32_t coreCount,
                  int32_t coreCountHW);

}  // namespace ps
