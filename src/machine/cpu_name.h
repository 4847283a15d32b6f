// Processor counts, names and the summed-clock estimate, from the registry
// name, the firmware table and the logical-processor topology.
#pragma once

#include <cstdint>

#include "machine/cpu_info.h"

namespace ps {

void analyseCpuName(_cpuInfo& info);
// Set bits among all 64 bits of a processor mask.
int countBits(uint64_t mask);

}  // namespace ps
