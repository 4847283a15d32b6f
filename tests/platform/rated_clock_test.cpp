// "~MHz": the rated clock, from the first source that has it.
#include "platform/linux/snapshot.h"
#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;

// Every processor's ~MHz through the registry and the snapshot's source, which must agree for all.
std::pair<long, std::string> ratedClockOfAll() {
  const auto snapshot = linuxLayer::processorSnapshot();
  std::pair<long, std::string> first{-9, "no processors"};
  for (int n = 0; n < snapshot->list.count(); ++n) {
    const std::pair<long, std::string> got{processorKeyValues(n).second,
                                           linuxLayer::clockSourceName(snapshot->rated[n].source)};
    if (n == 0) first = got;
    EXPECT_EQ(got, first) << "processor " << n;
  }
  return first;
}

TEST(RatedClock, RecordedMachines) {
  const std::tuple<const char*, long, const char*> cases[] = {
      {"amd-epyc-7451-2s-96cpu", 2300, "cpuinfo_max_freq"},  // acpi-cpufreq, though it runs at 2893
      {"amd-opteron-6134-4s-cgroup", 2300, "cpuinfo_max_freq"},  // powernow-k8
      {"amd-opteron6328-2s-16cpu", 3200, "cpuinfo_max_freq"},
      {"amd-ryzen5-1600", -1, "none"},  // bare metal, no cpufreq, no clock in the name
      {"intel-i5-L16G7-lakefield-hybrid", 1400, "name"},
      {"intel-i5-M560-dell-e4310", 2667, "cpuinfo_max_freq"},
      {"intel-i7-1165G7-tigerlake", 2800, "name"},  // base_frequency says 1200
      {"intel-i7-1370P-raptorlake-hybrid", 1900, "base_frequency"},  // the small cores' 1400 is not the model's
      {"intel-xeon-L5640-2s-24cpu", 2270, "name"},
      {"intel-xeon-X7550-4s-64cpu", 1996, "cpuinfo_max_freq"},
      {"intel-xeon-e5-2680v3-offline", 2500, "name"},
      {"intel-xeon-gold6230-2s-80cpu", 2100, "name"},
      {"intel-xeon-silver4108-2s-32cpu", 1800, "name"},
      {"vm-cloud-xeon-e5-2695v4-8vcpu", 2100, "name"},
      {"vm-kvm-skylake-offline", 2594, "cpu MHz (guest)"},
      {"vm-virtualbox-i5-3317U", 1700, "name"},  // intel_pstate's maximum is 3800
  };
  for (const auto& [machine, mhz, source] : cases) {
    SCOPED_TRACE(machine);
    const _scopedRoot root(machineRoot(machine));
    EXPECT_EQ(ratedClockOfAll(), std::make_pair(mhz, std::string(source)));
  }
}

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
