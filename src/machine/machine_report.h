// The machine report: plain text built from a filled record.
#pragma once

#include "base/fixed_string.h"
#include "machine/cpu_info.h"

namespace ps {

_fixedString<5000>& buildMachineReport(const _cpuInfo& info, _fixedString<5000>& report);

}  // namespace ps
