#include "machine/cpu_survey.h"

#include <cstring>

#include "base/clocks.h"
#include "base/error_text.h"
#include "base/fixed_string.h"
#include "machine/cpu_name.h"
#include "machine/perf_counter.h"
#include "machine/processor_records.h"
#include "platform/windows_api.h"

namespace ps {

namespace {

// Keeps the clock arithmetic far inside float-to-integer range; no clock
// comes near it.
constexpr int64_t clockLimit = (int64_t)1 << 40;

int64_t clampClock(int64_t v) { return v > clockLimit ? clockLimit : (v < -clockLimit ? -clockLimit : v); }

// Half away from zero, in double precision.
int64_t roundHalfAway(float x) {
  double d = x;
  return (int64_t)(d < 0 ? d - 0.5 : d + 0.5);
}

void readTopology(_cpuInfo& info) {
  _processorRecords records;
  if (readProcessorRecords(records)) {
    markSharedCores(records.bytes, records.length, info.coreHT);
  } else if (records.allocationFailed) {
    info.errorText.append("Allocation failure GetLogicalProcessorInformation()\n");
  } else {
    _fixedString<250> message;
    info.errorText.append(systemErrorText(message, records.error));
    info.errorText.append("\n");
  }
  releaseProcessorRecords(records);
}

void readRegistryClocks(_cpuInfo& info, int count) {
  for (int i = 0; i < count; ++i) {
    _fixedString<15> number;
    number.clear();
    number.appendNumber(i);
    _fixedStringW<250> path;
    path.assign("Hardware\\Description\\System\\CentralProcessor\\");
    path.append(number.text);
    path.zeroTail();
    HKEY key = nullptr;
    LSTATUS result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<LPCWSTR>(path.text), 0, KEY_QUERY_VALUE, &key);
    if (result == (LSTATUS)ERROR_SUCCESS) {
      DWORD mhz = 0;
      DWORD size = sizeof(mhz);
      if (RegQueryValueExW(key, reinterpret_cast<LPCWSTR>(u"~MHz"), nullptr, nullptr, (BYTE*)&mhz, &size) !=
          (LSTATUS)ERROR_SUCCESS)
        mhz = 0;
      RegCloseKey(key);
      info.coreMhzInfo[i] = mhz;
    } else if (result == (LSTATUS)ERROR_FILE_NOT_FOUND) {
      break;
    } else {
      _fixedString<250> message;
      info.errorText.append("Could not get ProcessorNameString: ");
      info.errorText.append(systemErrorText(message, (uint32_t)result));
      info.errorText.append("\n");
    }
  }
}

}  // namespace

int markSharedCores(const uint8_t* records, uint32_t length, bool* coreHT) {
  const uint32_t recordSize = sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION);
  int k = 0;
  for (uint64_t at = 0; records && at + recordSize <= length; at += recordSize) {
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION record;
    memcpy(&record, records + at, recordSize);
    if (record.Relationship != RelationProcessorCore) continue;
    bool shared = countBits((uint64_t)record.ProcessorMask) > 1;
    if (k < maxRecordedProcessors) coreHT[k++] = shared;
    if (shared && k < maxRecordedProcessors) coreHT[k++] = true;
  }
  return k;
}

int32_t hyperthreadingWeight(int64_t v) {
  float w = (float)v * 1.3f * 0.5f;
  if (w >= 2147483647.0f) return INT32_MAX;
  if (w <= -2147483648.0f) return INT32_MIN;
  return (int32_t)w;
}

int64_t boostEstimate(int64_t v, int64_t mhzMax) {
  v = clampClock(v);
  mhzMax = clampClock(mhzMax);
  if (mhzMax >= 1) {
    int64_t r = roundHalfAway((float)v * 2.3f);
    int64_t t = mhzMax <= r ? mhzMax : r;
    return v + roundHalfAway((float)(t - v) * 0.5f);
  }
  return (int64_t)((float)v * 1.4f);
}

void cpuInfoWithWait(_cpuInfo& info, int waitMs) {
  if (info.coreCount < 1) {
    analyseCpuName(info);
    if (info.coreCount < 1) return;
  }
  // The record holds 512 processors; a larger group is recorded in part.
  const int count = info.coreCount < maxRecordedProcessors ? info.coreCount : maxRecordedProcessors;

  for (int i = 0; i < maxRecordedProcessors; ++i) {
    info.coreHT[i] = info.hyperthreading;
    info.coreMhzMin[i] = -1;
    info.coreMhzMax[i] = -1;
    info.coreMhzCur[i] = -1;
    info.coreMhzInfo[i] = -1;
  }

  readTopology(info);
  readRegistryClocks(info, count);

  uint32_t coreFrequency[maxRecordedProcessors];
  if (getCorePercentage(info, coreFrequency)) {
    sleepMs(waitMs);
    if (getCorePercentage(info, coreFrequency)) {
      for (int i = 0; i < count; ++i) info.coreMhzCur[i] = coreFrequency[i];
    }
  }

  int64_t measured = 0;
  int64_t perCore = 0;
  for (int i = 0; i < count; ++i) {
    int64_t current = info.coreMhzCur[i];
    int64_t estimate = boostEstimate(info.coreMhzInfo[i], info.mhzMax);
    measured += info.coreHT[i] ? hyperthreadingWeight(current) : current;
    perCore += info.coreHT[i] ? hyperthreadingWeight(estimate) : estimate;
  }
  info.mhzSummedMeasured = measured < 1 ? info.mhzSummed : measured;
  info.mhzSummedPerCore = perCore < 1 ? info.mhzSummed : perCore;
}

void cpuInfo(_cpuInfo& info) { cpuInfoWithWait(info, 1000); }

}  // namespace ps
