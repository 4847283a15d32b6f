// Current clock of every logical processor from the performance counters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "machine/cpu_info.h"

namespace ps {

// Fills coreFrequency (512 entries, MHz); true when at least one processor's
// value was stored. Failures are appended to info.errorText.
bool getCorePercentage(_cpuInfo& info, uint32_t* coreFrequency);

}  // namespace ps
