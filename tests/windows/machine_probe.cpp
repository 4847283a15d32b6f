// The machine side alone, with no benchmark and no Qt: the processor-name
// analysis, the clock survey and the machine report, as the program runs
// them, then the installed memory in KiB (-1 when the call fails), for the
// end-to-end tests to compare. Built for Linux and for Windows from this file.
// Given a recorded machine's root (Linux), it reads that instead and prints
// the report alone, without the pause between counter readings: the golden
// reports are its output.
#include <cstdio>
#include <memory>

#include "machine/cpu_info.h"
#include "machine/cpu_name.h"
#include "machine/cpu_survey.h"
#include "machine/machine_report.h"
#include "platform/windows_api.h"

using namespace ps;

int main(int argc, char** argv) {
  const bool recorded = argc > 1;
  if (recorded) setSystemRoot(argv[1]);
  std::unique_ptr<_cpuInfo> info(newCpuInfo());
  analyseCpuName(*info);
  cpuInfoWithWait(*info, recorded ? 0 : 1000);

  std::unique_ptr<_fixedString<5000>> report(new _fixedString<5000>());
  buildMachineReport(*info, *report);
  fwrite(report->text, 1, report->length, stdout);
  if (recorded) return 0;

  ULONGLONG memoryKb = 0;
  printf("installedMemoryKiB: %lld\n", GetPhysicallyInstalledSystemMemory(&memoryKb) ? (long long)memoryKb : -1LL);
  fflush(stdout);
  return 0;
}
