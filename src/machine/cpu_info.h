// The machine-information record: counts, names, clocks in MHz (below 1
// means missing), per-processor tables and the text of every failure met.
#pragma once

#include <cstdint>

#include "base/fixed_string.h"

namespace ps {

constexpr int maxRecordedProcessors = 512;

struct _cpuInfo {
  int32_t coreCount;
  int32_t coreCountHW;
  bool hyperthreading;
  _fixedString<250> cpuDescription;
  _fixedString<250> cpuName;
  int64_t mhzLabel;
  int64_t mhzCurrent;
  int64_t mhzInfo;
  int64_t mhzMax;
  int64_t mhzSummed;
  int64_t mhzSummedPerCore;
  bool coreHT[maxRecordedProcessors];
  int64_t coreMhzMin[maxRecordedProcessors];
  int64_t coreMhzMax[maxRecordedProcessors];
  int64_t coreMhzCur[maxRecordedProcessors];
  int64_t coreMhzInfo[maxRecordedProcessors];
  int64_t mhzSummedMeasured;
  // Only grows; whatever would pass 1000 characters is dropped.
  _fixedString<1000> errorText;
};

// A zero-filled record on the heap (counts 0, texts empty, clocks 0).
inline _cpuInfo* newCpuInfo() { return new _cpuInfo(); }

}  // namespace ps
