#include "machine/cpu_name.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "recorded_root.h"

namespace ps {
namespace {

_fixedString<250> text(const char* s) {
  _fixedString<250> t;
  t.assign(s);
  return t;
}

TEST(CpuName, ShortNameAndClockInName) {
  struct Case {
    const char* description;
    const char* shortName;
    int64_t mhzLabel;
  } cases[] = {
      {"Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz", "i7-9700K", 3600},
      {"Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz", "6130", 2100},
      {"Intel(R) Xeon(R) CPU E5-2690 @ 2.90GHz", "E5-2690", 2900},
      {"12th Gen Intel(R) Core(TM) i9-12900K", "i9-12900K", -1},
      {"AMD Ryzen 9 5950X 16-Core Processor", "5950X", -1},
      {"AMD Ryzen Threadripper PRO 3995WX 64-Cores", "3995WX", -1},
      {"AMD EPYC 7763 64-Core Processor", "7763", -1},
      {"Apple M1", "M1", -1},
      // Clock forms: "@ ... GHz", "@ ...MHz" (read as GHz), "...MHz" without "@".
      {"Intel(R) Pentium(R) 4 CPU 3.00GHz", "Pentium(R) 4 CPU 3.00GHz", -1},
      {"Intel(R) Core(TM) i7 CPU @ 3600MHz", "i7", 3600000},
      {"Intel(R) Pentium(R) III processor 1000MHz", "Pentium(R) III processor", 1000},
      {"Intel(R) Pentium(R) III processor 1000 MHz", "Pentium(R) III processor 1000", 0},
      {"Intel(R) Core(TM) i5 CPU M 560 @ 2,67ghz", "i5 CPU M 560", 2670},
      {"Odd name @ 99999999GHz", "Odd name", INT32_MAX},
      {"Odd name @", "Odd name", 0},
      // Short-name rows.
      {"Intel(R) Core(TM)2 Duo CPU E8400 @ 3.00GHz", "2 Duo CPU E8400", 3000},
      {"Intel Xeon Platinum 8375C CPU @ 2.90GHz", "8375C", 2900},
      {"11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz", "i7-1165G7", 2800},
      {"AMD Ryzen 5 1600 Six-Core Processor", "1600", -1},
      {"AMD EPYC 7451 24-Core Processor", "7451", -1},
      {"Apple M2 Apple", "M2", -1},
      {"", "", -1},
      // No blank where rows 8, 10 and 11 look for one: the name stays.
      {"AMD Ryzen 7", "AMD Ryzen 7", -1},
      {"16-Core Processor", "16-Core Processor", -1},
      {"Eight-Cores", "Eight-Cores", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EXPECT_STREQ(c.shortName, shortCpuName(text(c.description)).text);
    EXPECT_EQ(c.mhzLabel, mhzFromName(text(c.description)));
  }
}

TEST(CpuName, SummedEstimate) {
  struct Case {
    int64_t label, max, current;
    int32_t logical, cores;
    int64_t summed;
  } cases[] = {
      {3600, 5000, 4000, 16, 8, 44720},  // half-way between 3600 and 5000, 0.3 per extra thread
      {3600, -1, 4000, 16, 8, 52416},    // no firmware maximum: 1.4 times the name's clock
      {-1, -1, -1, 16, 8, 1},            // nothing known
      {-1, 5000, 4000, 8, 8, 40000},     // the firmware maximum alone stays as it is
      {-1, -1, 2400, 4, 4, 13440},       // only the current clock
      {1000, 30000, -1, 1, 1, 1650},     // maximum capped at 2.3 times the name's clock
      {3601, 5000, -1, 1, 1, 4301},      // 699.5 rounds up
      {5000, 3601, -1, 1, 1, 4300},      // -699.5 rounds away from zero
      {3600, 5000, -1, 0, 0, 1},         // no processors
      {INT32_MAX, -1, -1, 512, 256, INT32_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.label << " " << c.max << " " << c.current << " " << c.logical);
    EXPECT_EQ(c.summed, summedMhz(c.label, c.max, c.current, c.logical, c.cores));
  }
}

TEST(CpuName, CountBits) {
  EXPECT_EQ(0, countBits(0));
  EXPECT_EQ(1, countBits(1));
  EXPECT_EQ(8, countBits(0xF0F0));
  EXPECT_EQ(2, countBits(0x8000000000000001ull));
  EXPECT_EQ(64, countBits(~0ull));
}

// Whole analysis over recorded machines and firmware tables.
TEST(CpuName, AnalyseRecordedMachines) {
  struct Case {
    const char* machine;
    const char* table;
    const char* description;
    const char* name;
    int64_t label, max, current;
    int32_t logical, cores;
    int64_t summed;
    const char* errors;  // the start of errorText
  } cases[] = {
      {"intel-i7-1165G7-tigerlake", "lenovo-thinkpad-t480", "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz",
       "i7-1165G7", 2800, 2100, 1900, 8, 4, 12740, ""},
      // More than 64 logical processors: only the first group of 64 counts.
      {"intel-xeon-gold6230-2s-80cpu", "supermicro-x9dbl-2s", "Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz", "6230",
       2100, 4000, 1800, 64, 40, 143960, ""},
      // Firmware values are dropped when the walk fails.
      {"amd-ryzen5-1600", "lenovo-thinkpad-w510", "AMD Ryzen 5 1600 Six-Core Processor", "1600", -1, -1, -1, 12,
       6, 1, "Wrong MemoryDeviceInformation version\n"},
      {"amd-epyc-7451-2s-96cpu", "dell-poweredge-r630-2s", "AMD EPYC 7451 24-Core Processor", "7451", -1, -1, -1,
       64, 48, 1, "GetSystemFirmwareTable - "},
      {"intel-xeon-e5-2680v3-offline", nullptr, "Intel(R) Xeon(R) CPU E5-2680 v3 @ 2.50GHz", "E5-2680 v3", 2500,
       -1, -1, 17, 17, 59500, "GetSystemFirmwareTable - "},
      {"vm-kvm-skylake-offline", "gigabyte-x399-threadripper", "Intel Xeon Processor (Skylake, IBRS)",
       "Processor (Skylake, IBRS)", -1, 4200, 3000, 2, 2, 8400, ""},
      {nullptr, "vmware-vm", "", "", -1, 30000, 2400, 0, 0, 1, "Could not get ProcessorNameString\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine ? c.machine : "no machine");
    RecordedRoot root(c.machine, c.table);
    ASSERT_TRUE(root.ok());
    std::unique_ptr<_cpuInfo> info(newCpuInfo());
    analyseCpuName(*info);
    EXPECT_STREQ(c.description, info->cpuDescription.text);
    EXPECT_STREQ(c.name, info->cpuName.text);
    EXPECT_EQ(c.label, info->mhzLabel);
    EXPECT_EQ(-1, info->mhzInfo);
    EXPECT_EQ(c.max, info->mhzMax);
    EXPECT_EQ(c.current, info->mhzCurrent);
    EXPECT_EQ(c.logical, info->coreCount);
    EXPECT_EQ(c.cores, info->coreCountHW);
    EXPECT_EQ(c.logical > c.cores, info->hyperthreading);
    EXPECT_EQ(c.summed, info->mhzSummed);
    EXPECT_EQ(0u, std::string(info->errorText.text).find(c.errors)) << info->errorText.text;
    if (!c.errors[0]) {
      EXPECT_TRUE(info->errorText.isEmpty()) << info->errorText.text;
    }

    // A second run rewrites the fields and appends its failure lines again.
    info->cpuName.assign("stale");
    std::string firstErrors = info->errorText.text;
    analyseCpuName(*info);
    EXPECT_STREQ(c.name, info->cpuName.text);
    EXPECT_EQ(firstErrors + firstErrors, std::string(info->errorText.text));
  }
}

}  // namespace
}  // namespace ps
