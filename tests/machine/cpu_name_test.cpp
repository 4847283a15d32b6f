#include "machine/cpu_name.h"

#include "recorded_machine.h"

namespace ps {
namespace {

TEST(CpuName, ShortNameAndClockInName) {
  const std::tuple<const char*, const char*, int64_t> cases[] = {
      {"Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz", "i7-9700K", 3600},
      {"Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz", "6130", 2100},
      {"12th Gen Intel(R) Core(TM) i9-12900K", "i9-12900K", -1},
      {"AMD Ryzen 9 5950X 16-Core Processor", "5950X", -1},
      {"AMD Ryzen Threadripper PRO 3995WX 64-Cores", "3995WX", -1},
      {"AMD EPYC 7763 64-Core Processor", "7763", -1},
      {"Apple M1", "M1", -1},
      {"Intel(R) Pentium(R) 4 CPU 3.00GHz", "Pentium(R) 4 CPU 3.00GHz", -1},
      {"Intel(R) Core(TM) i7 CPU @ 3600MHz", "i7", 3600000},
      {"Intel(R) Pentium(R) III processor 1000MHz", "Pentium(R) III processor", 1000},
      {"Intel(R) Pentium(R) III processor 1000 MHz", "Pentium(R) III processor 1000", 0},
      {"Intel(R) Core(TM)2 Duo CPU E8400 @ 3.00GHz", "2 Duo CPU E8400", 3000},
      {"Odd name @ 99999999GHz", "Odd name", INT32_MAX},
      {"", "", -1},
      // No blank where the model number's neighbour is looked for: the name stays.
      {"AMD Ryzen 7", "AMD Ryzen 7", -1},
      {"16-Core Processor", "16-Core Processor", -1},
      {"Eight-Cores", "Eight-Cores", -1},
  };
  for (const auto& [text, shortName, mhzLabel] : cases) {
    _fixedString<250> description;
    description.assign(text);
    EXPECT_STREQ(shortName, shortCpuName(description).text) << text;
    EXPECT_EQ(mhzLabel, mhzFromName(description)) << text;
  }
}

TEST(CpuName, SummedEstimate) {
  EXPECT_EQ(44720, summedMhz(3600, 5000, 4000, 16, 8));  // half-way to the maximum, 0.3 per extra thread
  EXPECT_EQ(52416, summedMhz(3600, -1, 4000, 16, 8));    // no firmware maximum: 1.4 times the name's clock
  EXPECT_EQ(1, summedMhz(-1, -1, -1, 16, 8));            // nothing known
  EXPECT_EQ(40000, summedMhz(-1, 5000, 4000, 8, 8));     // the firmware maximum alone stays as it is
  EXPECT_EQ(13440, summedMhz(-1, -1, 2400, 4, 4));       // only the current clock
  EXPECT_EQ(1650, summedMhz(1000, 30000, -1, 1, 1));     // maximum capped at 2.3 times the name's clock
  EXPECT_EQ(4300, summedMhz(5000, 3601, -1, 1, 1));      // -699.5 rounds away from zero
  EXPECT_EQ(INT32_MAX, summedMhz(INT32_MAX, -1, -1, 512, 256));
}

TEST(CpuName, AnalyseRecordedMachines) {
  for (const auto& c : testSupport::dataCases("machine/analysed_machines.txt")) {
    SCOPED_TRACE(c.fields[1]);
    const testSupport::_recordedRoot root(c.fields[0] == "-" ? nullptr : c.fields[0].c_str(), c.fields[1].c_str());
    std::unique_ptr<_cpuInfo> info(newCpuInfo());
    analyseCpuName(*info);
    EXPECT_EQ(std::to_string(info->mhzMax) + " " + std::to_string(info->mhzCurrent) + " " +
                  std::to_string(info->mhzSummed), c.fields[2] + " " + c.fields[3] + " " + c.fields[4]);
    const std::string errors = info->errorText.text, name = info->cpuName.text;
    const std::string start = testSupport::unescaped(c.fields[5]);
    EXPECT_EQ(errors.substr(0, start.size()), start);
    EXPECT_EQ(start.empty(), errors.empty()) << errors;
    // A second run rewrites the fields and appends its failure lines again.
    info->cpuName.assign("stale");
    analyseCpuName(*info);
    EXPECT_EQ(name, info->cpuName.text);
    EXPECT_EQ(errors + errors, info->errorText.text);
  }
}

}  // namespace
}  // namespace ps
