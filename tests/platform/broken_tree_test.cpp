// The processor side of the layer on hand-made trees with missing, empty,
// garbage or oversized files: every answer stays defined.
#include "platform/linux/snapshot.h"
#include "platform/linux/usable_cpus.h"
#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;

TEST(BrokenTrees, ProcessorFiles) {
  const std::string cpu = "sys/devices/system/cpu/", online = cpu + "online", freq = cpu + "cpu0/cpufreq/";
  const std::string siblings = "/topology/thread_siblings_list", package = "/topology/physical_package_id";
  // No usable online list: the cpuN directories decide. cpu2 has no topology, cpu3 garbage, cpu4 is offline,
  // cpu5 names a sibling that does not exist, and the allowed list names nothing online.
  const _treeFiles badTopology = {
      {online, "garbage"}, {cpu + "cpu0" + siblings, "0-1"}, {cpu + "cpu0" + package, "0"},
      {cpu + "cpu1" + siblings, "0-1"}, {cpu + "cpu1" + package, "0"}, {cpu + "cpu2/", ""},
      {cpu + "cpu3" + siblings, ""}, {cpu + "cpu3" + package, "x"}, {cpu + "cpu4/online", "0\n"},
      {cpu + "cpu5" + siblings, "5,1000"}, {cpu + "cpu5" + package, "0"}, {cpu + "cpufreq/", ""},
      {cpu + "cpu07/", ""}, {"proc/self/status", "Name:\tx\nCpus_allowed_list:\t40-41\n"}};
  // A huge cpuinfo is read up to its cap; entries before the cut stay; lines without a colon cost no more.
  std::string noColons;
  for (int i = 0; i < 300000; ++i) noColons += "x\n";
  const std::string huge = "processor : 0\n" + noColons + "model name : First\n\nprocessor : 1\nmodel name : Second\n" +
                           "flags : " + std::string(3 << 20, 'x') + "\n";
  const auto withCpuinfo = [&](const std::string& text, const _treeFiles& more = {}) {
    return with({{online, "0-1"}, {"proc/cpuinfo", text}}, more);
  };
  const std::u16string arm = u"ARMv7 Processor rev 10 (v7l)", cafe = u"Caf\u00E9 \uFFFD", absent = u"<absent>";
  const std::vector<int> two = {0, 1};
  const std::vector<ULONG_PTR> ownCores = {1, 2, 1, 2};
  struct {
    _treeFiles files;
    std::vector<int> cpus;
    std::vector<ULONG_PTR> records;  // masks of the core records, then of the package records
    std::u16string name0, name1;
    long mhz0;
  } cases[] = {
      {{}, {}, {}, u"<no key>", u"<no key>", -2},
      {badTopology, {0, 1, 2, 3, 5}, {0x3, 0x4, 0x8, 0x10, 0x13, 0x4, 0x8}, absent, absent, -1},
      {{{online, " 2,1,2 \n"}}, {1, 2}, {1, 2, 1, 2}, absent, absent, -1},
      // Lists past the CPU number limit or running backwards are garbage too.
      {{{online, "0-99999"}, {cpu + "cpu1/", ""}}, {1}, {1, 1}, absent, u"<no key>", -1},
      {{{online, "3-1"}, {cpu + "cpu1/", ""}}, {1}, {1, 1}, absent, u"<no key>", -1},
      {{{online, "0-3"}, {"proc/self/status", "Cpus_allowed_list:\t1-3\n"}}, {1, 2, 3}, {1, 2, 4, 1, 2, 4}, absent,
       absent, -1},
      // A mount table field longer than any fixed buffer does not shift the others.
      {{{online, "0-3"}, {"proc/self/cpuset", "/\n"}, {"cg/cpuset.cpus.effective", "1-2\n"},
        {"proc/mounts", std::string(300, 'd') + " /cg cgroup2 rw 0 0\n"}},
       {1, 2}, {1, 2, 1, 2}, absent, absent, -1},
      // Old ARM: the name is on the first entry only.
      {withCpuinfo("Processor\t: ARMv7 Processor rev 10 (v7l)\nprocessor\t: 0\n\nprocessor\t: 1\n"), two, ownCores, arm,
       arm, -1},
      {withCpuinfo("processor\t: 0\ncpu model\t: MIPS 24Kc\n",
                   {{freq + "cpuinfo_max_freq", "1000000"}, {freq + "scaling_driver", "acpi-cpufreq\n"}}),
       two, ownCores, u"MIPS 24Kc", u"MIPS 24Kc", 1000},
      {withCpuinfo("processor\t: 0\ncpu\t\t: POWER9\nclock\t\t: 2166.000000MHz\n", {{freq + "base_frequency", "junk"}}),
       two, ownCores, u"POWER9", u"POWER9", -1},  // bare metal: the cpuinfo clock is the live one
      // Entries go by their processor number, not their position.
      {withCpuinfo("processor : 1\nmodel name : B\ncpu MHz : 1e9\n\nprocessor : 0\nmodel name : A\ncpu MHz : 1499.5\n"
                   "flags : fpu hypervisor\n",
                   {{freq + "base_frequency", "0"}, {freq + "cpuinfo_max_freq", ""}}),
       two, ownCores, u"A", u"B", 1500},
      {withCpuinfo("processor : 0\nmodel name : Caf\xc3\xa9 \xff\ncpu MHz : fast\n",
                   {{freq + "cpuinfo_max_freq", "99999999999"}}),
       two, ownCores, cafe, cafe, -1},
      {withCpuinfo(""), two, ownCores, absent, absent, -1},
      {withCpuinfo(huge), two, ownCores, u"First", u"Second", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const _tempTree tree(c.files);
    const _scopedRoot root(tree.root());
    const auto snapshot = linuxLayer::processorSnapshot();
    EXPECT_EQ(snapshot->list.cpus, c.cpus);
    std::vector<ULONG_PTR> records;
    if (!snapshot->records.empty())
      for (const auto& r : snapshot->records[0]) records.push_back(r.ProcessorMask);
    EXPECT_EQ(records, c.records);
    DWORD length = 0;
    GetLogicalProcessorInformation(nullptr, &length);
    EXPECT_EQ(length, records.size() * 32);
    EXPECT_EQ(GetActiveProcessorGroupCount(), snapshot->list.cpus.empty() ? 0 : 1);
    EXPECT_EQ(processorKeyValues(0), std::make_pair(c.name0, c.mhz0));
    EXPECT_EQ(processorKeyValues(1).first, c.name1);
  }
}

// Overlapping ranges up to the size cap give each CPU once, without a list entry per range member.
TEST(BrokenTrees, CpuListOfOverlappingRanges) {
  std::string text;
  while (text.size() < 60000) text += "0-16383,";
  std::vector<int> cpus;
  ASSERT_TRUE(linuxLayer::parseCpuList(text + "5", &cpus));
  EXPECT_TRUE(cpus.size() == 16384 && cpus.front() == 0 && cpus.back() == 16383);
  EXPECT_FALSE(linuxLayer::parseCpuList(text + "16384", &cpus));
}

}  // namespace
}  // namespace ps
