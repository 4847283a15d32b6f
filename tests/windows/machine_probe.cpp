// The machine side alone, with no benchmark and no Qt: the processor-name
// analysis, the clock survey and the machine report, as the program runs
// them, then the record's fields one per line ("field: value") for a
// comparison across builds. Built for Linux and for Windows from this file.
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "machine/cpu_info.h"
#include "machine/cpu_name.h"
#include "machine/cpu_survey.h"
#include "machine/machine_report.h"
#include "platform/windows_api.h"

using namespace ps;

int main() {
  std::unique_ptr<_cpuInfo> info(newCpuInfo());
  analyseCpuName(*info);
  cpuInfo(*info);

  _fixedString<5000> report;
  buildMachineReport(*info, report);
  fwrite(report.text, 1, report.length, stdout);

  printf("== record\n");
  printf("coreCount: %d\n", (int)info->coreCount);
  printf("coreCountHW: %d\n", (int)info->coreCountHW);
  printf("hyperthreading: %d\n", info->hyperthreading ? 1 : 0);
  printf("cpuDescription: %s\n", info->cpuDescription.text);
  printf("cpuName: %s\n", info->cpuName.text);
  printf("mhzLabel: %" PRId64 "\n", info->mhzLabel);
  printf("mhzMax: %" PRId64 "\n", info->mhzMax);
  printf("mhzCurrent: %" PRId64 "\n", info->mhzCurrent);
  printf("mhzInfo: %" PRId64 "\n", info->mhzInfo);
  ULONGLONG memoryKb = 0;
  printf("installedMemoryKiB: %lld\n", GetPhysicallyInstalledSystemMemory(&memoryKb) ? (long long)memoryKb : -1LL);
  fflush(stdout);
  return 0;
}
