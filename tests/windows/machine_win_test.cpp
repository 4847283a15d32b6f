// The machine side against the real Windows API, run under Wine: each value
// the program derives is checked against the same facts asked for here
// through other calls.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "driver/processor_count.h"
#include "machine/cpu_info.h"
#include "machine/clock_arithmetic.h"
#include "machine/cpu_name.h"
#include "machine/cpu_survey.h"
#include "machine/perf_counter.h"
#include "machine/processor_records.h"
#include "machine/smbios.h"
#include "platform/windows_api.h"

namespace ps {
namespace {

std::wstring processorKey(int n) { return L"Hardware\\Description\\System\\CentralProcessor\\" + std::to_wstring(n); }

// One value of processor key n; false when the key or the value is missing.
bool registryValue(int n, const wchar_t* name, std::vector<BYTE>& value) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, processorKey(n).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  DWORD size = 0;
  bool ok = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
  value.assign(size + 2, 0);
  ok = ok && RegQueryValueExW(key, name, nullptr, nullptr, value.data(), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

std::unique_ptr<_cpuInfo> analysed() {
  std::unique_ptr<_cpuInfo> info(newCpuInfo());
  analyseCpuName(*info);
  return info;
}

// The name analysis (core records), the header's count (groups, through
// kernel32's address) and GetActiveProcessorCount, which neither calls.
TEST(WindowsMachine, ProcessorCountsAgreeAcrossCalls) {
  DWORD length = 0;
  EXPECT_FALSE(GetLogicalProcessorInformation(nullptr, &length));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());  // the reader's size query relies on it
  const auto info = analysed();
  const int active = (int)GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  ASSERT_GE(active, 1);
  EXPECT_EQ(active, getLogicalProcessorCount());
  ASSERT_EQ(1, (int)GetActiveProcessorGroupCount());  // the records describe the calling thread's group
  EXPECT_EQ(active, info->coreCount);

  _processorRecords records;
  ASSERT_TRUE(readProcessorRecords(records));
  EXPECT_EQ(0u, records.length % sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
  int cores = 0;
  uint64_t seen = 0;
  forEachCoreMask(records.bytes, records.length, [&](uint64_t mask) {
    ++cores;
    EXPECT_EQ(0u, seen & mask) << "a processor in two cores";
    seen |= mask;
  });
  releaseProcessorRecords(records);
  EXPECT_EQ(cores, info->coreCountHW);
  EXPECT_EQ(active, countBits(seen));
  EXPECT_EQ(info->coreCount > info->coreCountHW, info->hyperthreading);
}

// Name and clocks from the CentralProcessor keys (the survey's failure lines
// are checked against the Linux build's report).
TEST(WindowsMachine, RegistryNameAndClocks) {
  std::vector<BYTE> value;
  ASSERT_TRUE(registryValue(0, L"ProcessorNameString", value));
  std::string name;
  for (const wchar_t* c = (const wchar_t*)value.data(); *c; ++c) name += (char)*c;
  const auto info = analysed();
  EXPECT_NE(std::string::npos, name.find(info->cpuDescription.text)) << name;
  EXPECT_EQ(mhzFromName(info->cpuDescription), info->mhzLabel);

  cpuInfoWithWait(*info, 0);
  for (int n = 0; n < info->coreCount && n < maxRecordedProcessors; ++n) {
    ASSERT_TRUE(registryValue(n, L"~MHz", value)) << n;
    EXPECT_EQ((int64_t) * (const DWORD*)value.data(), info->coreMhzInfo[n]) << n;
  }
  // One key per processor and no more: the survey stops at the first missing key silently.
  HKEY key;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, processorKey(info->coreCount).c_str(), 0, KEY_QUERY_VALUE, &key));
}

// The reader's result equals the walk over the bytes fetched here. Wine's
// small table from the host's DMI data may lack the processor's speeds.
TEST(WindowsMachine, FirmwareTableAsTheWalkSeesIt) {
  const DWORD rsmb = ((DWORD)'R' << 24) | ((DWORD)'S' << 16) | ((DWORD)'M' << 8) | 'B';
  const UINT size = GetSystemFirmwareTable(rsmb, 0, nullptr, 0);
  const _smbiosInfo read = readSmbios();
  if (size == 0) {
    EXPECT_FALSE(read.valid);
    EXPECT_EQ(0u, std::string(read.errorText.text).find("GetSystemFirmwareTable - "));
    return;
  }
  std::vector<uint8_t> raw(size);
  ASSERT_EQ(size, GetSystemFirmwareTable(rsmb, 0, raw.data(), size));
  ASSERT_GE(size, 8u);
  EXPECT_EQ(size - 8, raw[4] | raw[5] << 8 | raw[6] << 16 | (uint32_t)raw[7] << 24);  // Length
  const _smbiosInfo walked = parseRawSmbios(raw.data(), raw.size());
  EXPECT_EQ(std::make_tuple(walked.valid, walked.cpuMaxMHz, walked.cpuCurrentMHz),
            std::make_tuple(read.valid, read.cpuMaxMHz, read.cpuCurrentMHz));
  EXPECT_STREQ(walked.errorText.text, read.errorText.text);
  const auto info = analysed();
  EXPECT_EQ(read.valid ? (int64_t)read.cpuMaxMHz : -1, info->mhzMax);
  EXPECT_EQ(read.valid ? (int64_t)read.cpuCurrentMHz : -1, info->mhzCurrent);
}

// Wine 8 has no counters (its name table holds two entries): the reader must
// stop at the first missing name with its own text; on Windows every
// processor must get a clock.
TEST(WindowsMachine, PerformanceCounters) {
  _byteBuffer table;
  ASSERT_TRUE(readCounterNames(table));
  const auto info = analysed();
  uint32_t frequency[maxRecordedProcessors] = {};
  const bool read = getCorePercentage(*info, frequency);
  if (findCounterIndex(table, "Processor Information") < 1) {
    EXPECT_FALSE(read);
    EXPECT_STREQ("getCorePercentage: Required counter PROCESSOR_Information_INDEX not found", info->errorText.text);
  } else {
    EXPECT_TRUE(read) << info->errorText.text;
    for (int n = 0; n < info->coreCount && n < maxRecordedProcessors; ++n) EXPECT_GT(frequency[n], 0u) << n;
  }
}

}  // namespace
}  // namespace ps
