#include <array>
#include <thread>

#include "platform/linux/snapshot.h"
#include "platform/linux/topology.h"
#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;
using linuxLayer::_processorList;

// Per group: logical processors, cores, cores with several threads, packages.
using _groupShape = std::array<int, 4>;

// GetLogicalProcessorInformationEx(RelationGroup) after its size query: count and mask per group.
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

// GetLogicalProcessorInformation: size query, a buffer one byte short, then a roomy one.
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

// The groups as a caller sees them (group 0 through the call), checked for
// consecutive cores ascending by lowest CPU, threads ascending, groups ascending.
std::vector<_groupShape> groupShapes() {
  const auto snapshot = linuxLayer::processorSnapshot();
  const _processorList& list = snapshot->list;
  EXPECT_EQ(GetActiveProcessorGroupCount(), list.groupCount());
  const auto groups = activeGroups();
  EXPECT_EQ(groups.size(), static_cast<size_t>(list.groupCount()));
  std::vector<_groupShape> shapes;
  int lastGroupCpu = -1;
  for (int g = 0; g < list.groupCount() && g < static_cast<int>(groups.size()); ++g) {
    const int logical = list.groupSize(g), first = list.groupStart(g);
    EXPECT_EQ(groups[g], std::make_pair(logical, KAFFINITY(logical == 64 ? ~0ull : (1ull << logical) - 1)));
    const int lowest = *std::min_element(list.cpus.begin() + first, list.cpus.begin() + first + logical);
    EXPECT_GT(lowest, lastGroupCpu) << "groups out of order";
    lastGroupCpu = lowest;
    _groupShape got{0, 0, 0, 0};
    KAFFINITY seen = 0;
    int lastCoreCpu = -1;
    for (const auto& record : g == 0 ? callingGroupRecords() : snapshot->records[g]) {
      const int bits = __builtin_popcountll(record.ProcessorMask);
      if (record.Relationship == RelationProcessorPackage) ++got[3];
      if (record.Relationship != RelationProcessorCore) continue;
      const int low = __builtin_ctzll(record.ProcessorMask);
      EXPECT_EQ(record.ProcessorMask, ((bits == 64 ? 0 : 1ull << bits) - 1) << low) << "core not consecutive";
      EXPECT_EQ(seen & record.ProcessorMask, 0u) << "processor in two cores";
      EXPECT_EQ(record.ProcessorCore.Flags, bits > 1 ? 1 : 0);
      EXPECT_GT(list.cpus[first + low], lastCoreCpu) << "cores out of order";
      for (int t = 1; t < bits; ++t) EXPECT_LT(list.cpus[first + low + t - 1], list.cpus[first + low + t]);
      lastCoreCpu = list.cpus[first + low];
      seen |= record.ProcessorMask;
      got = {got[0] + bits, got[1] + 1, got[2] + (bits > 1), got[3]};
    }
    shapes.push_back(got);
  }
  return shapes;
}

TEST(Topology, RecordedMachines) {
  // Machine, the kernel CPUs of the first logical processors, the groups.
  const std::tuple<const char*, std::vector<int>, std::vector<_groupShape>> cases[] = {
      {"intel-i7-1165G7-tigerlake", {0, 4, 1, 5}, {{8, 4, 4, 1}}},  // siblings (n, n+4)
      {"intel-xeon-X7550-4s-64cpu", {0, 32, 1, 33}, {{64, 32, 32, 4}}},
      {"intel-xeon-L5640-2s-24cpu", {0, 12, 1, 13}, {{24, 12, 12, 2}}},  // no online file
      // No node information: the packages stand in, each whole in a group.
      {"intel-xeon-gold6230-2s-80cpu", {0, 40, 2, 42}, {{40, 20, 20, 1}, {40, 20, 20, 1}}},
      {"amd-epyc-7451-2s-96cpu", {0, 48, 1, 49}, {{48, 24, 24, 1}, {48, 24, 24, 1}}},
      // Two dies per package (core_id repeats) and a cgroup cpuset of 0-5.
      {"amd-opteron-6134-4s-cgroup", {0, 1, 2, 3, 4, 5}, {{6, 6, 0, 1}}},
      {"intel-xeon-e5-2680v3-offline", {4, 5}, {{17, 17, 0, 2}}},  // cpu0-3 offline
      {"vm-kvm-skylake-offline", {0, 1}, {{2, 2, 0, 2}}},
  };
  for (const auto& [machine, firstCpus, groups] : cases) {
    SCOPED_TRACE(machine);
    const _scopedRoot root(machineRoot(machine));
    const auto& cpus = linuxLayer::processorSnapshot()->list.cpus;
    ASSERT_GE(cpus.size(), firstCpus.size());
    EXPECT_EQ(std::vector<int>(cpus.begin(), cpus.begin() + firstCpus.size()), firstCpus);
    EXPECT_EQ(groupShapes(), groups);
  }
}

// A two-thread machine numbered as the kernel numbers a multi-socket server
// (siblings c and c + n/2), each node a run of cores or, interleaved, core c in node c mod nodes.
_treeFiles nodeMachine(const std::vector<int>& nodeSizes, const std::string& allowed = "", bool interleaved = false) {
  int total = 0;
  for (const int size : nodeSizes) total += size;
  const int half = total / 2;
  _treeFiles files = {{"sys/devices/system/cpu/online", "0-" + std::to_string(total - 1)}};
  std::vector<std::string> nodeLists(nodeSizes.size());
  for (int core = 0, node = 0, left = nodeSizes[0] / 2; core < half; ++core) {
    const std::string siblings = std::to_string(core) + "," + std::to_string(core + half);
    for (const int cpu : {core, core + half})
      files.push_back({"sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/thread_siblings_list", siblings});
    if (interleaved) node = core % static_cast<int>(nodeSizes.size());
    else if (left-- == 0) left = nodeSizes[++node] / 2 - 1;
    nodeLists[node] += (nodeLists[node].empty() ? "" : ",") + siblings;
  }
  for (size_t node = 0; node < nodeSizes.size(); ++node)
    files.push_back({"sys/devices/system/node/node" + std::to_string(node) + "/cpulist", nodeLists[node]});
  if (!allowed.empty()) files.push_back({"proc/self/status", "Cpus_allowed_list:\t" + allowed + "\n"});
  return files;
}

TEST(Topology, GroupsFromNodes) {
  const std::pair<_treeFiles, std::vector<int>> cases[] = {
      {nodeMachine({128, 128}), {64, 64, 64, 64}},  // nodes larger than a group are cut in two
      {nodeMachine({100}), {50, 50}},
      {nodeMachine({40, 40, 40}), {40, 40, 40}},    // no two fit in one group
      {nodeMachine({18, 18, 18, 18}), {36, 36}},
      {nodeMachine({40, 20, 20}), {40, 40}},        // the two small nodes share a group
      {nodeMachine({20, 40, 20}), {40, 40}},        // nodes 0 and 2 in group 0
      {nodeMachine({10, 30, 20, 20}), {40, 40}},
      {nodeMachine({18, 18, 18, 18}, "", true), {36, 36}},  // cores of two nodes merged in order
      {nodeMachine({40, 40}, "0-4,40-44"), {10}},   // a cpuset leaves one group
      {nodeMachine({66}), {32, 34}},                // cut at a core boundary
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const _tempTree tree(c.first);
    const _scopedRoot root(tree.root());
    std::vector<int> sizes;
    for (const auto& shape : groupShapes()) sizes.push_back(shape[0]);
    EXPECT_EQ(sizes, c.second);
  }
}

TEST(Topology, ThreadPlacement) {
  {
    _scopedRoot root(machineRoot("intel-xeon-gold6230-2s-80cpu"));
    const _processorList list = linuxLayer::processorSnapshot()->list;
    EXPECT_EQ(linuxLayer::groupOfAffinity(list, {21, 75}), 1);
    std::vector<int> cpus;
    // Group 1 holds the second package (the odd CPUs), core by core: 1, 41, 3, 43, ...
    EXPECT_TRUE(linuxLayer::groupAffinityCpus(list, {0x7, 1, {0, 0, 0}}, &cpus));
    EXPECT_EQ(cpus, (std::vector<int>{1, 3, 41}));
    EXPECT_FALSE(linuxLayer::groupAffinityCpus(list, {1ull << 40, 1, {0, 0, 0}}, &cpus));  // group 1 holds 40
  }
  std::thread([] {
    const _processorList list = linuxLayer::processorSnapshot()->list;
    const HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, 1234);
    GROUP_AFFINITY all = {~0ull, 0, {0, 0, 0}}, previous = {0, 99, {0, 0, 0}};
    ASSERT_TRUE(SetThreadGroupAffinity(thread, &all, &previous));
    EXPECT_TRUE(previous.Group == 0 && previous.Mask != 0);
    std::vector<int> group0(list.cpus.begin(), list.cpus.begin() + list.groupSize(0));
    std::sort(group0.begin(), group0.end());
    EXPECT_EQ(linuxLayer::threadAffinity(), group0);
    GROUP_AFFINITY missing = {~0ull, static_cast<WORD>(list.groupCount()), {0, 0, 0}};
    EXPECT_FALSE(SetThreadGroupAffinity(thread, &missing, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(thread));
  }).join();
}

}  // namespace
}  // namespace ps
