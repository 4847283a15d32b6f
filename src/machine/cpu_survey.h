// The clock survey run while the benchmark workers are busy.
#pragma once

#include "machine/cpu_info.h"

namespace ps {

void cpuInfo(_cpuInfo& info);

}  // namespace ps
