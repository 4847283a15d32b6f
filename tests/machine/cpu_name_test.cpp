#include "machine/cpu_name.h"

#include "recorded_machine.h"

namespace ps {
namespace {

TEST(CpuName, ShortNameAndClockInName) {
  const struct {
    const char* description;
    const char* shortName;
    int64_t mhzLabel;
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.description);
    _fixedString<250> description;
    description.assign(c.description);
    EXPECT_STREQ(c.shortName, shortCpuName(description).text);
    EXPECT_EQ(c.mhzLabel, mhzFromName(description));
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
  const struct {
    const char *machine, *table, *description, *name;
    int64_t label, max, current;
    int32_t logical, cores;
    int64_t summed;
    const char* errors;  // the start of errorText
  } cases[] = {
      {"intel-i7-1165G7-tigerlake", "lenovo-thinkpad-t480", "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz",
       "i7-1165G7", 2800, 2100, 1900, 8, 4, 12740, ""},
      // More than 64 logical processors: only the calling thread's group, one package of 40, counts.
      {"intel-xeon-gold6230-2s-80cpu", "supermicro-x9dbl-2s", "Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz", "6230",
       2100, 4000, 1800, 40, 20, 79300, ""},
      // Firmware values are dropped when the walk fails.
      {"amd-ryzen5-1600", "lenovo-thinkpad-w510", "AMD Ryzen 5 1600 Six-Core Processor", "1600", -1, -1, -1, 12,
       6, 1, "Wrong MemoryDeviceInformation version\n"},
      {"intel-xeon-e5-2680v3-offline", nullptr, "Intel(R) Xeon(R) CPU E5-2680 v3 @ 2.50GHz", "E5-2680 v3", 2500,
       -1, -1, 17, 17, 59500, "GetSystemFirmwareTable - "},
      {"vm-kvm-skylake-offline", "gigabyte-x399-threadripper", "Intel Xeon Processor (Skylake, IBRS)",
       "Processor (Skylake, IBRS)", -1, 4200, 3000, 2, 2, 8400, ""},
      {nullptr, "vmware-vm", "", "", -1, 30000, 2400, 0, 0, 1, "Could not get ProcessorNameString\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.description);
    testSupport::_recordedRoot root(c.machine, c.table);
    std::unique_ptr<_cpuInfo> info(newCpuInfo());
    analyseCpuName(*info);
    EXPECT_STREQ(c.description, info->cpuDescription.text);
    EXPECT_STREQ(c.name, info->cpuName.text);
    EXPECT_EQ(std::make_tuple(c.label, c.max, c.current, c.summed),
              std::make_tuple(info->mhzLabel, info->mhzMax, info->mhzCurrent, info->mhzSummed));
    EXPECT_EQ(std::make_pair(c.logical, c.cores), std::make_pair(info->coreCount, info->coreCountHW));
    EXPECT_EQ(c.logical > c.cores, info->hyperthreading);
    const std::string errors = info->errorText.text;
    EXPECT_EQ(0u, errors.find(c.errors)) << errors;
    EXPECT_EQ(c.errors[0] == 0, errors.empty()) << errors;

    // A second run rewrites the fields and appends its failure lines again.
    info->cpuName.assign("stale");
    analyseCpuName(*info);
    EXPECT_STREQ(c.name, info->cpuName.text);
    EXPECT_EQ(errors + errors, std::string(info->errorText.text));
  }
}

}  // namespace
}  // namespace ps
