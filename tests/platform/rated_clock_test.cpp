// "~MHz": the rated clock, from the first source that has it.
#include "processor_calls.h"

namespace ps {
namespace {

using namespace testSupport;

TEST(RatedClock, SourcesInOrder) {
  const std::string cpu0 = "sys/devices/system/cpu/cpu0/", freq = cpu0 + "cpufreq/";
  const auto cpuinfo = [](const std::string& name, const std::string& flags = "fpu") {
    return std::make_pair(std::string("proc/cpuinfo"),
                          "processor : 0\nmodel name : " + name + "\ncpu MHz : 1234.567\nflags : " + flags + "\n");
  };
  const _treeFiles acpi = {{freq + "scaling_driver", "acpi-cpufreq\n"}, {freq + "cpuinfo_max_freq", "3001000\n"},
                           {freq + "base_frequency", "2000000\n"}, cpuinfo("X @ 2.50GHz", "hypervisor")};
  const std::tuple<_treeFiles, long, const char*> cases[] = {
      {with(acpi, {{cpu0 + "acpi_cppc/nominal_freq", "2900\n"}}), 2900, "acpi_cppc nominal_freq"},
      {acpi, 3001, "cpuinfo_max_freq"},
      // A top step 1 MHz above the next is the turbo marker; any other gap is not.
      {with(acpi, {{freq + "scaling_available_frequencies", "3001000 3000000 2000000 \n"}}), 3000, "cpuinfo_max_freq"},
      {with(acpi, {{freq + "scaling_available_frequencies", "3001000 2999000 2000000\n"}}), 3001, "cpuinfo_max_freq"},
      {with(acpi, {{freq + "scaling_available_frequencies", "2000000 3001000 3000000\n"}}), 3000, "cpuinfo_max_freq"},
      {with(acpi, {{freq + "scaling_driver", "intel_pstate\n"}}), 2500, "name"},
      {with(acpi, {{freq + "scaling_driver", "intel_pstate\n"}, cpuinfo("X @ 2.27 GHz")}), 2270, "name"},
      {with(acpi, {{freq + "scaling_driver", "intel_pstate\n"}, cpuinfo("X @ 2.50", "hypervisor")}), 2000,
       "base_frequency"},
      {{cpuinfo("X @ fast GHz", "fpu hypervisor vme")}, 1235, "cpu MHz (guest)"},
      {{cpuinfo("X @ 2.6666GHz", "fpu")}, 2666, "name"},  // truncated, as the name analysis does
      {{cpuinfo("X", "fpu hypervisorish")}, -1, "none"},
  };
  for (const auto& [files, mhz, source] : cases) {
    SCOPED_TRACE(source);
    const _tempTree tree(with(files, {{"sys/devices/system/cpu/online", "0"}}));
    const _scopedRoot root(tree.root());
    EXPECT_EQ(ratedClockOfAll(), std::make_pair(mhz, std::string(source)));
  }
}

}  // namespace
}  // namespace ps
