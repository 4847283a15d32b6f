#include <array>
#include <thread>

#include "platform/linux/topology.h"
#include "testing_root.h"

namespace ps {
namespace {

using namespace platformTesting;
using linuxLayer::processorList;

// Walks GetLogicalProcessorInformationEx(RelationGroup) as a caller does, with
// the size query first: active processor count and mask per group.
std::vector<std::pair<int, KAFFINITY>> activeGroups() {
  DWORD length = 0;
  EXPECT_FALSE(GetLogicalProcessorInformationEx(RelationGroup, nullptr, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buffer(length);
  EXPECT_TRUE(GetLogicalProcessorInformationEx(
      RelationGroup, reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data()), &length));
  SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX record;
  std::memcpy(&record, buffer.data(), sizeof(record));
  EXPECT_EQ(record.Size, length);
  std::vector<std::pair<int, KAFFINITY>> groups(record.Group.ActiveGroupCount);
  for (size_t g = 0; g < groups.size(); ++g) {
    PROCESSOR_GROUP_INFO info;
    std::memcpy(&info, buffer.data() + 32 + g * sizeof(info), sizeof(info));
    groups[g] = {info.ActiveProcessorCount, info.ActiveProcessorMask};
  }
  return groups;
}

// GetLogicalProcessorInformation as a caller uses it: size query, a buffer
// one byte short, then one with room to spare.
std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> callingGroupRecords() {
  DWORD length = 0;
  EXPECT_FALSE(GetLogicalProcessorInformation(nullptr, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> buffer(length / 32 + 2);
  DWORD tooSmall = length - 1, roomy = static_cast<DWORD>(buffer.size() * 32);
  EXPECT_FALSE(GetLogicalProcessorInformation(buffer.data(), &tooSmall));
  EXPECT_TRUE(GetLogicalProcessorInformation(buffer.data(), &roomy));
  EXPECT_TRUE(tooSmall == length && roomy == length && length % 32 == 0);
  buffer.resize(length / 32);
  return buffer;
}

TEST(Topology, RecordedMachines) {
  using groupShape = std::array<int, 4>;  // logical processors, cores, cores with several threads, packages
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
    EXPECT_TRUE(list.cpus.front() == m.firstCpu && list.cpus.back() == m.lastCpu);
    EXPECT_EQ(GetActiveProcessorGroupCount(), m.groups.size());
    const auto groups = activeGroups();
    ASSERT_EQ(groups.size(), m.groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
      const int logical = m.groups[g][0];
      EXPECT_EQ(groups[g], std::make_pair(logical, KAFFINITY(logical == 64 ? ~0ull : (1ull << logical) - 1)));
      // This test's threads run in group 0; the other groups come from the layer below.
      groupShape got{0, 0, 0, 0};
      KAFFINITY seen = 0;
      for (const auto& record : g == 0 ? callingGroupRecords() : linuxLayer::processorRecords(list, int(g))) {
        const int bits = __builtin_popcountll(record.ProcessorMask);
        if (record.Relationship == RelationProcessorPackage) ++got[3];
        if (record.Relationship != RelationProcessorCore) continue;
        EXPECT_EQ(seen & record.ProcessorMask, 0u) << "processor in two cores";
        EXPECT_EQ(record.ProcessorCore.Flags, bits > 1 ? 1 : 0);
        seen |= record.ProcessorMask;
        got = {got[0] + bits, got[1] + 1, got[2] + (bits > 1), got[3]};
      }
      EXPECT_EQ(got, m.groups[g]) << "group " << g;
    }
  }
}

TEST(Topology, ThreadPlacement) {
  {
    scopedRoot root(machineRoot("intel-xeon-gold6230-2s-80cpu"));
    const processorList list = linuxLayer::readProcessorList();
    EXPECT_EQ(linuxLayer::groupOfAffinity(list, {70, 75}), 1);
    std::vector<int> cpus;
    EXPECT_TRUE(linuxLayer::groupAffinityCpus(list, {0x5, 1, {0, 0, 0}}, &cpus));
    EXPECT_EQ(cpus, (std::vector<int>{64, 66}));
    EXPECT_FALSE(linuxLayer::groupAffinityCpus(list, {1ull << 20, 1, {0, 0, 0}}, &cpus));  // group 1 holds 16
  }
  // For real, on this machine and in a thread of its own.
  std::thread([] {
    const processorList list = linuxLayer::readProcessorList();
    const HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, 1234);
    GROUP_AFFINITY all = {~0ull, 0, {0, 0, 0}}, previous = {0, 99, {0, 0, 0}};
    ASSERT_TRUE(SetThreadGroupAffinity(thread, &all, &previous));
    EXPECT_TRUE(previous.Group == 0 && previous.Mask != 0);
    EXPECT_EQ(linuxLayer::threadAffinity(), std::vector<int>(list.cpus.begin(), list.cpus.begin() + list.groupSize(0)));
    GROUP_AFFINITY missing = {~0ull, static_cast<WORD>(list.groupCount()), {0, 0, 0}};
    EXPECT_FALSE(SetThreadGroupAffinity(thread, &missing, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(thread));
  }).join();
}

}  // namespace
}  // namespace ps
