#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/cpu_list.h"
#include "platform/linux/topology.h"
#include "platform/windows_api.h"
#include "testing_root.h"

namespace ps {
namespace {

using namespace platformTesting;
using linuxLayer::processorList;

TEST(CpuList, ParsesKernelListForm) {
  const std::vector<int> bad{-1};
  const std::pair<const char*, std::vector<int>> cases[] = {
      {"0-3,8\n", {0, 1, 2, 3, 8}}, {" 2,1,2 ", {1, 2}}, {"", bad},  {"3-1", bad},
      {"1,,2", bad},                {"1-", bad},         {"a", bad}, {"0-99999", bad},
  };
  for (const auto& c : cases) {
    std::vector<int> cpus = bad;
    EXPECT_EQ(linuxLayer::parseCpuList(c.first, &cpus), c.second != bad) << c.first;
    EXPECT_EQ(cpus, c.second) << c.first;
  }
}

// Per group: logical processors, cores, cores with several threads, packages.
struct groupShape {
  int logical, cores, multiThreadCores, packages;
};

// Walks GetLogicalProcessorInformationEx(RelationGroup) as a caller does:
// active processor count and mask per group.
std::vector<std::pair<int, KAFFINITY>> activeGroups() {
  std::vector<std::pair<int, KAFFINITY>> groups;
  DWORD length = 0;
  EXPECT_FALSE(GetLogicalProcessorInformationEx(RelationGroup, nullptr, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buffer(length);
  EXPECT_TRUE(GetLogicalProcessorInformationEx(
      RelationGroup, reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data()), &length));
  SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX record;
  std::memcpy(&record, buffer.data(), sizeof(record));
  EXPECT_EQ(record.Size, length);
  for (int g = 0; g < record.Group.ActiveGroupCount; ++g) {
    PROCESSOR_GROUP_INFO info;
    std::memcpy(&info, buffer.data() + 32 + g * sizeof(info), sizeof(info));
    groups.emplace_back(info.ActiveProcessorCount, info.ActiveProcessorMask);
  }
  return groups;
}

TEST(Topology, RecordedMachines) {
  struct {
    const char* machine;
    int firstCpu, lastCpu;
    std::vector<groupShape> groups;
  } cases[] = {
      {"intel-i7-1165G7-tigerlake", 0, 7, {{8, 4, 4, 1}}},
      {"intel-i7-1370P-raptorlake-hybrid", 0, 19, {{20, 14, 6, 1}}},
      {"intel-i5-M560-dell-e4310", 0, 3, {{4, 2, 2, 1}}},
      {"intel-xeon-X7550-4s-64cpu", 0, 63, {{64, 32, 32, 4}}},
      {"intel-xeon-L5640-2s-24cpu", 0, 23, {{24, 12, 12, 2}}},  // no online file
      // Groups are runs of 64, so a core whose sibling (n+40, n+48) falls in
      // the other group counts once in each.
      {"intel-xeon-gold6230-2s-80cpu", 0, 79, {{64, 40, 24, 2}, {16, 16, 0, 2}}},
      {"amd-epyc-7451-2s-96cpu", 0, 95, {{64, 48, 16, 2}, {32, 32, 0, 2}}},
      {"amd-ryzen5-1600", 0, 11, {{12, 6, 6, 1}}},
      {"amd-opteron6328-2s-16cpu", 0, 15, {{16, 8, 8, 2}}},
      // Two dies per package (core_id repeats) and a cgroup cpuset of 0-5.
      {"amd-opteron-6134-4s-cgroup", 0, 5, {{6, 6, 0, 1}}},
      {"intel-xeon-e5-2680v3-offline", 4, 20, {{17, 17, 0, 2}}},  // cpu0-3 offline
      {"vm-kvm-skylake-offline", 0, 1, {{2, 2, 0, 2}}},
      {"vm-cloud-xeon-e5-2695v4-8vcpu", 0, 7, {{8, 8, 0, 1}}},
  };
  for (const auto& m : cases) {
    SCOPED_TRACE(m.machine);
    scopedRoot root(machineRoot(m.machine));
    const processorList list = linuxLayer::readProcessorList();
    ASSERT_FALSE(list.cpus.empty());
    EXPECT_EQ(list.cpus.front(), m.firstCpu);
    EXPECT_EQ(list.cpus.back(), m.lastCpu);
    EXPECT_EQ(GetActiveProcessorGroupCount(), m.groups.size());
    const auto groups = activeGroups();
    ASSERT_EQ(groups.size(), m.groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
      const groupShape& want = m.groups[g];
      EXPECT_EQ(groups[g].first, want.logical);
      EXPECT_EQ(groups[g].second, want.logical == 64 ? ~0ull : (1ull << want.logical) - 1);
      groupShape got{0, 0, 0, 0};
      KAFFINITY seen = 0;
      for (const auto& record : linuxLayer::processorRecords(list, static_cast<int>(g))) {
        got.packages += record.Relationship == RelationProcessorPackage;
        if (record.Relationship != RelationProcessorCore) continue;
        const int bits = __builtin_popcountll(record.ProcessorMask);
        EXPECT_EQ(seen & record.ProcessorMask, 0u) << "processor in two cores";
        EXPECT_EQ(record.ProcessorCore.Flags, bits > 1 ? 1 : 0);
        seen |= record.ProcessorMask;
        got = {got.logical + bits, got.cores + 1, got.multiThreadCores + (bits > 1), got.packages};
      }
      EXPECT_EQ(got.logical, want.logical) << "group " << g;
      EXPECT_EQ(got.cores, want.cores) << "group " << g;
      EXPECT_EQ(got.multiThreadCores, want.multiThreadCores) << "group " << g;
      EXPECT_EQ(got.packages, want.packages) << "group " << g;
    }
  }
}

TEST(Topology, SizeQueryAndRecordWalk) {
  scopedRoot root(machineRoot("amd-epyc-7451-2s-96cpu"));
  DWORD length = 0;
  ASSERT_FALSE(GetLogicalProcessorInformation(nullptr, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, (48u + 2u) * 32u);
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> buffer(length / 32 + 2);
  DWORD tooSmall = length - 1;
  EXPECT_FALSE(GetLogicalProcessorInformation(buffer.data(), &tooSmall));
  EXPECT_EQ(tooSmall, length);
  DWORD roomy = static_cast<DWORD>(buffer.size() * 32);
  ASSERT_TRUE(GetLogicalProcessorInformation(buffer.data(), &roomy));
  EXPECT_EQ(roomy, length);
  // cpu0 and cpu48 share a core; cpu16's sibling (64) is in group 1.
  EXPECT_EQ(buffer[0].ProcessorMask, (1ull << 0) | (1ull << 48));
  EXPECT_EQ(buffer[16].ProcessorMask, 1ull << 16);
}

TEST(Topology, BrokenTrees) {
  tempTree tree;
  const std::string cpu = "sys/devices/system/cpu/";
  // No usable online list: the cpuN directories decide; "online" 0 drops one.
  tree.write(cpu + "online", "garbage");
  for (const char* n : {"0", "1"}) {
    tree.write(cpu + "cpu" + n + "/topology/thread_siblings_list", "0-1");
    tree.write(cpu + "cpu" + n + "/topology/physical_package_id", "0");
  }
  tree.makeDirs(cpu + "cpu2");  // no topology at all
  tree.write(cpu + "cpu3/topology/thread_siblings_list", "");
  tree.write(cpu + "cpu3/topology/physical_package_id", "x");
  tree.write(cpu + "cpu4/online", "0\n");
  tree.write(cpu + "cpu5/topology/thread_siblings_list", "5,1000");
  tree.write(cpu + "cpu5/topology/physical_package_id", "0");
  tree.makeDirs(cpu + "cpufreq");
  tree.makeDirs(cpu + "cpu07");
  tree.write("proc/self/status", "Name:\tx\nCpus_allowed_list:\t40-41\n");  // names nothing online
  scopedRoot root(tree.root());

  const processorList list = linuxLayer::readProcessorList();
  EXPECT_EQ(list.cpus, (std::vector<int>{0, 1, 2, 3, 5}));
  std::vector<ULONG_PTR> cores, packages;
  for (const auto& r : linuxLayer::processorRecords(list, 0))
    (r.Relationship == RelationProcessorCore ? cores : packages).push_back(r.ProcessorMask);
  EXPECT_EQ(cores, (std::vector<ULONG_PTR>{0x3, 0x4, 0x8, 0x10}));
  EXPECT_EQ(packages, (std::vector<ULONG_PTR>{0x13, 0x4, 0x8}));

  tree.write("proc/self/status", "Cpus_allowed_list:\t1-3\n");
  EXPECT_EQ(linuxLayer::readProcessorList().cpus, (std::vector<int>{1, 2, 3}));
}

TEST(Topology, EmptyTreeReportsNothing) {
  tempTree tree;
  scopedRoot root(tree.root());
  EXPECT_EQ(GetActiveProcessorGroupCount(), 0);
  DWORD length = 0;
  EXPECT_TRUE(GetLogicalProcessorInformation(nullptr, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(activeGroups().empty());
}

TEST(Topology, PlacementSets) {
  scopedRoot root(machineRoot("intel-xeon-gold6230-2s-80cpu"));
  const processorList list = linuxLayer::readProcessorList();
  EXPECT_EQ(linuxLayer::groupOfAffinity(list, {70, 75}), 1);
  EXPECT_EQ(linuxLayer::groupOfAffinity(list, {5, 70}), 0);
  EXPECT_EQ(linuxLayer::groupOfAffinity(list, {200}), 0);
  std::vector<int> cpus;
  EXPECT_TRUE(linuxLayer::groupAffinityCpus(list, {0x5, 1, {0, 0, 0}}, &cpus));
  EXPECT_EQ(cpus, (std::vector<int>{64, 66}));
  EXPECT_FALSE(linuxLayer::groupAffinityCpus(list, {1ull << 20, 1, {0, 0, 0}}, &cpus));
  EXPECT_FALSE(linuxLayer::groupAffinityCpus(list, {~0ull, 2, {0, 0, 0}}, &cpus));
  EXPECT_FALSE(linuxLayer::groupAffinityCpus(list, {~0ull, 0, {0, 1, 0}}, &cpus));
}

TEST(Topology, ThreadPlacementOnThisMachine) {
  std::thread([] {
    const processorList list = linuxLayer::readProcessorList();
    HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, 1234);
    GROUP_AFFINITY all = {~0ull, 0, {0, 0, 0}}, previous = {0, 99, {0, 0, 0}};
    ASSERT_TRUE(SetThreadGroupAffinity(thread, &all, &previous));
    EXPECT_EQ(previous.Group, 0);
    EXPECT_NE(previous.Mask, 0u);
    EXPECT_EQ(linuxLayer::threadAffinity(),
              std::vector<int>(list.cpus.begin(), list.cpus.begin() + list.groupSize(0)));
    GROUP_AFFINITY missing = {~0ull, static_cast<WORD>(list.groupCount()), {0, 0, 0}};
    EXPECT_FALSE(SetThreadGroupAffinity(thread, &missing, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetThreadGroupAffinity(GetCurrentProcess(), &all, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(thread));
  }).join();

  int logical = 0;
  for (const auto& g : activeGroups()) logical += g.first;
  EXPECT_EQ(logical, linuxLayer::readProcessorList().count());
  EXPECT_GT(logical, 0);
}

}  // namespace
}  // namespace ps
