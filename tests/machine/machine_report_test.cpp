#include "machine/machine_report.h"

#include "recorded_machine.h"

namespace ps {
namespace {

using testSupport::count;

// Two processors sharing one core; every table entry filled alike.
std::unique_ptr<_cpuInfo> exampleMachine(int coreCount = 2) {
  std::unique_ptr<_cpuInfo> info(newCpuInfo());
  info->cpuDescription.assign("Example Processor @ 3.60GHz");
  info->cpuName.assign("Example Processor");
  info->coreCount = coreCount;
  info->coreCountHW = 1;
  info->hyperthreading = true;
  info->mhzLabel = info->mhzCurrent = 3600;
  info->mhzInfo = -1;
  info->mhzMax = 4000;
  info->mhzSummed = info->mhzSummedPerCore = 4940;
  info->mhzSummedMeasured = 4680;
  for (int i = 0; i < maxRecordedProcessors; ++i) {
    info->coreHT[i] = true;
    info->coreMhzInfo[i] = info->coreMhzCur[i] = 3600;
    info->coreMhzMin[i] = info->coreMhzMax[i] = -1;
  }
  return info;
}

std::string build(const _cpuInfo& info) {
  _fixedString<5000> report;
  report.assign("left over from before");
  buildMachineReport(info, report);
  return std::string(report.text, report.length);
}

// The layout of a whole report is the golden reports'; here the errors block and values wider than a column.
TEST(MachineReport, ErrorsAndOddValues) {
  auto info = exampleMachine();
  info->errorText.assign("Could not get ProcessorNameString\nPerformance counter failed\n");
  info->hyperthreading = false;
  info->coreHT[1] = false;
  info->coreMhzInfo[0] = 1234567;
  info->coreMhzCur[1] = 12345678901LL;
  info->mhzMax = 4294967296LL + 7;  // single values print as 32-bit numbers
  const std::string report = build(*info);
  EXPECT_EQ(0u, report.find("------------------------------\nERRORS:\n"
                            "Could not get ProcessorNameString\nPerformance counter failed\n\n"
                            "------------------------------\n\nCPU Description:     "));
  for (const char* line : {"CPU Hyperthreading:  Disabled\n", "CPU MHz Max:      7\n", "Core HT:       true  -     \n",
                           "Core MHz Info: 12345673600  \n", "Core MHz Cur:  3600      12345678901\n"})
    EXPECT_EQ(1u, count(report, line)) << line;
}

// Whole blocks of ten are the golden reports'; here a part block, none, and the cut.
TEST(MachineReport, BlocksOfTenProcessorsCutAtFiveThousandCharacters) {
  const std::tuple<int, size_t, const char*> cases[] = {
      {25, 3, "Core HT:       true  true  true  true  true  \nCore MHz Info: "},
      {0, 0, "adjusted):  4940\nCPU MHz summed (calculated per Core"},  // no table at all
  };
  for (const auto& [processors, blocks, lastHtRow] : cases) {
    const std::string report = build(*exampleMachine(processors));
    EXPECT_EQ(0u, report.find("CPU Description:     Example Processor @ 3.60GHz\nCPU:"));  // no errors block
    EXPECT_EQ(blocks, count(report, "Core MHz Cur:")) << processors;
    EXPECT_EQ(1u, count(report, lastHtRow)) << processors;
  }
  // Cut at 5000 characters: the header and eleven whole blocks of 421, then the cut block.
  const std::string report = build(*exampleMachine(128));
  ASSERT_EQ(5000u, report.size());
  const size_t table = report.find("Core HT:");
  EXPECT_EQ(11u, count(report, "Core MHz Cur:"));
  EXPECT_EQ(report.substr(table, 421), report.substr(table + 421, 421));
  EXPECT_EQ(5000u, build(*exampleMachine(100000)).size());  // read no further than the record's arrays
}

}  // namespace
}  // namespace ps
