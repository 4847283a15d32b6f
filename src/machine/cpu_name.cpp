#include "machine/cpu_name.h"

#include <cstring>

#include "base/error_text.h"
#include "base/name_clock.h"
#include "machine/clock_arithmetic.h"
#include "machine/processor_records.h"
#include "machine/smbios.h"
#include "platform/windows_api.h"

namespace ps {

namespace {

constexpr int nameBufferBytes = 256;
constexpr int nameBufferUnits = nameBufferBytes / 2;

bool readProcessorName(_fixedString<250>& out) {
  _fixedStringW<250> keyPath;
  keyPath.assign("Hardware\\Description\\System\\CentralProcessor\\0");
  _fixedStringW<250> valueName;
  valueName.assign("ProcessorNameString");
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<LPCWSTR>(keyPath.text), 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return false;
  uint16_t units[nameBufferUnits] = {};
  DWORD bytes = nameBufferBytes;
  DWORD type = 0;
  LSTATUS status = RegQueryValueExW(key, reinterpret_cast<LPCWSTR>(valueName.text), nullptr, &type,
                                    reinterpret_cast<BYTE*>(units), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  // A value that fills the buffer has no NUL: stop at the buffer's end.
  int count = (int)(bytes / 2);
  if (count > nameBufferUnits) count = nameBufferUnits;
  char narrow[nameBufferUnits + 1];
  int n = 0;
  while (n < count && units[n] != 0) {
    narrow[n] = (char)(units[n] & 0xFF);
    ++n;
  }
  narrow[n] = 0;
  out.assign(narrow);
  return true;
}

// Logical processors and cores of the calling thread's processor group.
void countProcessorsAndCores(_cpuInfo& info) {
  int32_t logical = 0;
  int32_t cores = 0;
  _processorRecords records;
  if (readProcessorRecords(records)) {
    forEachCoreMask(records.bytes, records.length, [&](uint64_t mask) {
      ++cores;
      logical += countBits(mask);
    });
  } else if (records.allocationFailed) {
    info.errorText.append("Allocation failure\n");
  } else {
    info.errorText.append("GetLogicalProcessorInformation() ");
    appendSystemErrorText(info.errorText, records.error);
    info.errorText.append("\n");
  }
  releaseProcessorRecords(records);
  info.coreCount = logical;
  info.coreCountHW = cores;
}

// Drops everything up to and including the first occurrence of pattern;
// false when it is not there.
bool cutThrough(_fixedString<250>& name, const char* pattern) {
  int p = name.find(pattern);
  if (p < 0) return false;
  name.remove(0, p + (int)strlen(pattern));
  return true;
}

void removeXeonTiers(_fixedString<250>& name) {
  name.removeAll("Gold ");
  name.removeAll("Platinum ");
}

// Drops " <n>-Core Processor" or " <n>-Cores". Without a blank before the
// pattern the name is left alone.
void removeCoreSuffix(_fixedString<250>& name, const char* pattern) {
  int p = name.find(pattern);
  if (p < 0) return;
  int s = name.findLastChar(' ', p);
  if (s < 0) return;
  name.remove(s, p - s);
  name.remove(s, (int)strlen(pattern));
}

}  // namespace

int64_t mhzFromName(const _fixedString<250>& description) {
  float mhz = 0.0f;
  if (clockAfterAt(description, _nameClockUnit::anyAfterAt, &mhz)) return truncateToInt32((double)mhz);
  _fixedString<250> work = description;
  int at = work.find("Mhz");
  if (at >= 0) {
    work.setLength((int16_t)at);
    int space = work.findLastChar(' ');
    if (space > 0) work.remove(0, space + 1);
    return parseIntClamped(work.text);
  }
  return -1;
}

_fixedString<250> shortCpuName(const _fixedString<250>& description) {
  _fixedString<250> name = description;
  int p = name.find("@");
  if (p >= 0) name.setLength((int16_t)p);
  p = name.find("Mhz");
  if (p >= 0) {
    name.setLength((int16_t)p);
    int space = name.findLastChar(' ');
    if (space > 0) name.setLength((int16_t)space);
  }
  cutThrough(name, "Intel(R) Core(TM)");
  if (cutThrough(name, "Intel(R) Xeon(R)")) removeXeonTiers(name);
  if (cutThrough(name, "Intel Xeon ")) removeXeonTiers(name);
  cutThrough(name, "Intel(R)");
  if (cutThrough(name, "AMD Ryzen Threadripper")) name.removeAll("PRO ");
  p = name.find("AMD Ryzen");
  if (p >= 0) {
    // Keeps the model: "AMD Ryzen 9 5950X" loses everything before " 5950X".
    int s = name.findCharNoCase(' ', p + 10);
    if (s >= 0) name.remove(0, s);
  }
  cutThrough(name, "AMD EPYC ");
  removeCoreSuffix(name, "-Core Processor");
  removeCoreSuffix(name, "-Cores");
  name.trim();
  if (name.endsWithNoCase("CPU")) name.setLength((int16_t)(name.length - 3));
  if (name.startsWithNoCase("CPU")) name.remove(0, 3);
  name.trim();
  if (name.find("Apple") >= 0) {
    name.removeAll("Apple");
    name.trim();
  }
  return name;
}

// Half-way between the clock in the name and the firmware maximum (capped at
// 2.3 times the name's clock); a further thread of a core counts 0.3.
int64_t summedMhz(int64_t mhzLabel, int64_t mhzMax, int64_t mhzCurrent, int32_t coreCount,
                  int32_t coreCountHW) {
  float f = 0.0f;
  if (mhzMax >= 1) {
    f = halfWayToMax((float)(mhzLabel >= 1 ? mhzLabel : mhzMax), mhzMax);
  } else {
    int64_t base = mhzLabel >= 1 ? mhzLabel : (mhzCurrent > 0 ? mhzCurrent : 0);
    f = (float)base * 1.4f;
  }
  if (coreCount < 1) return 1;
  float summed = (float)coreCountHW * f + (float)(coreCount - coreCountHW) * f * 0.3f;
  int64_t result = truncateToInt32((double)summed);
  return result < 1 ? 1 : result;
}

void analyseCpuName(_cpuInfo& info) {
  info.mhzLabel = -1;
  info.mhzCurrent = -1;
  info.mhzInfo = -1;
  info.mhzMax = -1;

  _fixedString<250> description;
  if (readProcessorName(description))
    info.cpuDescription = description;
  else
    info.errorText.append("Could not get ProcessorNameString\n");

  _smbiosInfo firmware = readSmbios();
  if (firmware.valid) {
    info.mhzMax = firmware.cpuMaxMHz;
    info.mhzCurrent = firmware.cpuCurrentMHz;
  }
  if (firmware.errorText.isNotEmpty()) {
    info.errorText.append(firmware.errorText);
    info.errorText.append("\n");
  }

  countProcessorsAndCores(info);

  info.mhzLabel = mhzFromName(info.cpuDescription);
  info.cpuName = shortCpuName(info.cpuDescription);
  info.hyperthreading = info.coreCount > info.coreCountHW;
  info.mhzSummed = summedMhz(info.mhzLabel, info.mhzMax, info.mhzCurrent, info.coreCount, info.coreCountHW);
}

}  // namespace ps
