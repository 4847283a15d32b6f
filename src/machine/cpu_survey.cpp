#include "machine/cpu_survey.h"

#include "base/clocks.h"
#include "base/error_text.h"
#include "base/fixed_string.h"
#include "machine/clock_arithmetic.h"
#include "machine/cpu_name.h"
#include "machine/perf_counter.h"
#include "machine/processor_records.h"
#include "platform/windows_api.h"

namespace ps {

namespace {

// Keeps the estimate far inside the int64 range; no clock comes near it.
constexpr int64_t clockLimit = (int64_t)1 << 40;

int64_t clampClock(int64_t v) { return v > clockLimit ? clockLimit : (v < -clockLimit ? -clockLimit : v); }

void readSharedCores(_cpuInfo& info) {
  _processorRecords records;
  if (readProcessorRecords(records)) {
    markSharedCores(records.bytes, records.length, info.coreHT);
  } else if (records.allocationFailed) {
    info.errorText.append("Allocation failure GetLogicalProcessorInformation()\n");
  } else {
    appendSystemErrorText(info.errorText, records.error);
    info.errorText.append("\n");
  }
  releaseProcessorRecords(records);
}

void readRegistryClocks(_cpuInfo& info, int count) {
  for (int i = 0; i < count; ++i) {
    _fixedString<15> number;
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
      info.errorText.append("Could not get ProcessorNameString: ");
      appendSystemErrorText(info.errorText, (uint32_t)result);
      info.errorText.append("\n");
    }
  }
}

}  // namespace

int markSharedCores(const uint8_t* records, uint32_t length, bool* coreHT) {
  int k = 0;
  forEachCoreMask(records, length, [&](uint64_t mask) {
    bool shared = countBits(mask) > 1;
    if (k < maxRecordedProcessors) coreHT[k++] = shared;
    if (shared && k < maxRecordedProcessors) coreHT[k++] = true;
  });
  return k;
}

int32_t hyperthreadingWeight(int64_t v) { return truncateToInt32((double)((float)v * 1.3f * 0.5f)); }

int64_t boostEstimate(int64_t v, int64_t mhzMax) {
  v = clampClock(v);
  if (mhzMax >= 1) return (int64_t)halfWayToMax((float)v, mhzMax);
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

  readSharedCores(info);
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
