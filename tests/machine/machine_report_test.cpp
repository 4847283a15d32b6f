#include "machine/machine_report.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace ps {
namespace {

std::unique_ptr<_cpuInfo> exampleMachine() {
  std::unique_ptr<_cpuInfo> info(newCpuInfo());
  info->cpuDescription.assign("Example Processor @ 3.60GHz");
  info->cpuName.assign("Example Processor");
  info->coreCount = 2;
  info->coreCountHW = 1;
  info->hyperthreading = true;
  info->mhzLabel = 3600;
  info->mhzInfo = -1;
  info->mhzMax = 4000;
  info->mhzCurrent = 3600;
  info->mhzSummed = 4940;
  info->mhzSummedPerCore = 4940;
  info->mhzSummedMeasured = 4680;
  for (int i = 0; i < maxRecordedProcessors; ++i) {
    info->coreHT[i] = true;
    info->coreMhzInfo[i] = 3600;
    info->coreMhzCur[i] = 3600;
    info->coreMhzMin[i] = -1;
    info->coreMhzMax[i] = -1;
  }
  return info;
}

std::string build(const _cpuInfo& info) {
  _fixedString<5000> report;
  report.assign("left over from before");
  buildMachineReport(info, report);
  EXPECT_EQ(strlen(report.text), (size_t)report.length);
  return std::string(report.text, report.length);
}

size_t count(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

const char* const closing =
    "CPU MHz summed (calculated per Core, HT adjusted): 4940\n"
    "CPU MHz summed (measured current, HT adjusted):    4680\n"
    "\n"
    "NOTE: Tessel reads the information provided by the OS or BIOS.\n"
    "Not all information is available on every OS. And not all GHz information provided by the system is "
    "reliable.\n"
    "\n";

TEST(MachineReport, ExampleReportByteForByte) {
  std::string expected =
      "CPU Description:     Example Processor @ 3.60GHz\n"
      "CPU:                 Example Processor\n"
      "CPU Core Count:      2\n"
      "CPU Core Count (HW): 1\n"
      "CPU Hyperthreading:  Enabled\n"
      "CPU MHz in label: 3600\n"
      "CPU MHz Info:     -1\n"
      "CPU MHz Max:      4000\n"
      "CPU MHz Current:  3600\n"
      "CPU MHz summed (calculated, HT adjusted):  4940\n"
      "Core HT:       true  true  \n"
      "Core MHz Info: 3600  3600  \n"
      "Core MHz Min:  -1    -1    \n"
      "Core MHz Max:  -1    -1    \n"
      "Core MHz Cur:  3600      3600      \n"
      "\n";
  expected += closing;
  EXPECT_EQ(expected, build(*exampleMachine()));
}

TEST(MachineReport, ErrorsBlockComesFirst) {
  auto info = exampleMachine();
  info->errorText.assign("Could not get ProcessorNameString\nPerformance counter failed\n");
  info->hyperthreading = false;
  info->coreHT[1] = false;
  std::string report = build(*info);
  EXPECT_EQ(0u, report.find("------------------------------\n"
                            "ERRORS:\n"
                            "Could not get ProcessorNameString\nPerformance counter failed\n"
                            "\n"
                            "------------------------------\n"
                            "\n"
                            "CPU Description:     "));
  EXPECT_NE(std::string::npos, report.find("CPU Hyperthreading:  Disabled\n"));
  EXPECT_NE(std::string::npos, report.find("Core HT:       true  -     \n"));
}

TEST(MachineReport, BlocksOfTenProcessors) {
  struct Case {
    int processors;
    size_t blocks;
    const char* lastHtRow;
  } cases[] = {
      {8, 1, "Core HT:       true  true  true  true  true  true  true  true  \n"},
      {10, 1, "Core HT:       true  true  true  true  true  true  true  true  true  true  \n"},
      {25, 3, "Core HT:       true  true  true  true  true  \nCore MHz Info: "},
      {1, 1, "Core HT:       true  \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.processors);
    auto info = exampleMachine();
    info->coreCount = c.processors;
    std::string report = build(*info);
    EXPECT_EQ(c.blocks, count(report, "Core HT:"));
    EXPECT_EQ(c.blocks, count(report, "Core MHz Cur:"));
    EXPECT_NE(std::string::npos, report.find(c.lastHtRow));
    // Each block ends with an empty line before the next block or the summed lines.
    EXPECT_EQ(c.blocks, count(report, "      \n\nC"));
    EXPECT_NE(std::string::npos, report.find(closing));
  }
}

TEST(MachineReport, NoTableWithoutProcessors) {
  for (int processors : {0, -1}) {
    auto info = exampleMachine();
    info->coreCount = processors;
    std::string report = build(*info);
    EXPECT_EQ(0u, count(report, "Core HT:") + count(report, "Core MHz"));
    EXPECT_NE(std::string::npos, report.find("adjusted):  4940\nCPU MHz summed (calculated per Core"));
  }
}

TEST(MachineReport, LongValueRunsIntoTheNextCell) {
  auto info = exampleMachine();
  info->coreMhzInfo[0] = 1234567;
  info->coreMhzCur[1] = 12345678901LL;
  info->mhzMax = 4294967296LL + 7;  // single values print as 32-bit numbers
  std::string report = build(*info);
  EXPECT_NE(std::string::npos, report.find("Core MHz Info: 12345673600  \n"));
  EXPECT_NE(std::string::npos, report.find("Core MHz Cur:  3600      12345678901\n"));
  EXPECT_NE(std::string::npos, report.find("CPU MHz Max:      7\n"));
}

TEST(MachineReport, CutAtFiveThousandCharacters) {
  auto info = exampleMachine();
  info->coreCount = 128;
  _fixedString<5000> report;
  buildMachineReport(*info, report);
  ASSERT_EQ(5000, report.length);
  EXPECT_EQ(0, report.text[5000]);
  std::string text(report.text, report.length);
  EXPECT_EQ(std::string::npos, text.find("NOTE:"));
  EXPECT_EQ(std::string::npos, text.find("measured current"));
  // The header and eleven whole blocks of 421 characters, then the cut block.
  size_t header = text.find("Core HT:");
  ASSERT_NE(std::string::npos, header);
  EXPECT_EQ(11u, count(text, "Core MHz Cur:"));
  EXPECT_EQ(text.substr(header, 421), text.substr(header + 421, 421));

  // More processors than the record holds are read no further than its arrays.
  info->coreCount = 100000;
  buildMachineReport(*info, report);
  EXPECT_EQ(5000, report.length);
}

}  // namespace
}  // namespace ps
