// The processor calls as a Windows caller makes them (groups and cores,
// the registry's processor keys, the performance data), on the recorded
// machines and on hand-made trees. What a recorded machine's golden report
// does not show is in recorded_machines.txt, one machine a line.
#include <array>
#include <thread>

#include "driver/processor_count.h"
#include "machine/perf_counter.h"
#include "platform/linux/perf_data.h"
#include "platform/linux/snapshot.h"
#include "platform/linux/topology.h"
#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;
using linuxLayer::_processorList;

// Per group: logical processors, cores, cores with several threads, packages.
using _groupShape = std::array<int, 4>;

// The groups' records (their count and sizes reach callers through the driver's
// processor count, group 0's through the golden reports), checked for
// consecutive cores ascending by lowest CPU, threads ascending, groups ascending.
std::vector<_groupShape> groupShapes() {
  const auto snapshot = linuxLayer::processorSnapshot();
  const _processorList& list = snapshot->list;
  EXPECT_EQ(GetActiveProcessorGroupCount(), list.groupCount());
  std::vector<_groupShape> shapes;
  int lastGroupCpu = -1;
  for (int g = 0; g < list.groupCount(); ++g) {
    const int logical = list.groupSize(g), first = list.groupStart(g);
    const int lowest = *std::min_element(list.cpus.begin() + first, list.cpus.begin() + first + logical);
    EXPECT_GT(lowest, lastGroupCpu) << "groups out of order";
    lastGroupCpu = lowest;
    _groupShape got{0, 0, 0, 0};
    KAFFINITY seen = 0;
    int lastCoreCpu = -1;
    for (const auto& record : snapshot->records[g]) {
      const int bits = __builtin_popcountll(record.ProcessorMask);
      if (record.Relationship == RelationProcessorPackage) ++got[3];
      if (record.Relationship != RelationProcessorCore) continue;
      const int low = __builtin_ctzll(record.ProcessorMask);
      EXPECT_EQ(record.ProcessorMask, ((bits == 64 ? 0 : 1ull << bits) - 1) << low) << "core not consecutive";
      EXPECT_EQ(seen & record.ProcessorMask, 0u) << "processor in two cores";
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

// The current clocks as the program reads the performance data, up to the first place no instance filled: the
// registry's block through the machine side's checked walk (the golden reports pin the recorded machines' values).
std::vector<uint32_t> currentClocks(DWORD objectIndex) {
  std::vector<BYTE> data(264000);
  DWORD size = static_cast<DWORD>(data.size());
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, std::to_string(objectIndex).c_str(), nullptr, nullptr, data.data(),
                             &size), 0);
  std::vector<uint32_t> clocks(maxRecordedProcessors, ~0u);  // ~0u: no instance
  _fixedString<1000> errors;
  readFrequencies(data.data(), size, linuxLayer::processorInformationIndex, linuxLayer::processorFrequencyIndex, -1,
                  linuxLayer::processorPerformanceIndex, clocks.data(), errors);
  clocks.erase(std::find(clocks.begin(), clocks.end(), ~0u), clocks.end());
  return clocks;
}

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

class RecordedMachine : public ::testing::TestWithParam<_dataCase> {};

TEST_P(RecordedMachine, Facts) {
  const std::vector<std::string>& row = GetParam().fields;
  ASSERT_EQ(row.size(), 5u);
  const _scopedRoot root(machineRoot(row[0]));
  // Every group counts, and each logical processor has its registry key.
  const int logical = getLogicalProcessorCount();
  EXPECT_EQ(std::to_string(logical), row[1]);
  EXPECT_NE(processorKeyValues(logical - 1).first, u"<no key>");
  EXPECT_EQ(processorKeyValues(logical).first, u"<no key>");
  std::string cpus, groups;
  const auto& list = linuxLayer::processorSnapshot()->list.cpus;
  for (size_t i = 0; i < 4 && i < list.size(); ++i) cpus += (i ? " " : "") + std::to_string(list[i]);
  EXPECT_EQ(cpus, row[2]);
  int g = 0;
  for (const auto& shape : groupShapes()) {
    groups += (g ? " " : "") + std::to_string(shape[0]) + "/" + std::to_string(shape[1]) + "/" +
              std::to_string(shape[2]) + "/" + std::to_string(shape[3]);
    ++g;
  }
  EXPECT_EQ(groups, row[3]);
  EXPECT_EQ(ratedClockOfAll().second, row[4]);
  // One instance per processor, numbered from 0 in each group.
  EXPECT_EQ(currentClocks(linuxLayer::processorInformationIndex).size(), static_cast<size_t>(logical));
}

INSTANTIATE_TEST_SUITE_P(Recorded, RecordedMachine, ::testing::ValuesIn(dataCases("platform/recorded_machines.txt")),
                         [](const ::testing::TestParamInfo<_dataCase>& info) {
                           std::string name = info.param.fields[0];
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// A two-thread machine numbered as the kernel numbers a multi-socket server
// (siblings c and c + n/2), each node a run of cores or, interleaved, core c in node c mod nodes.
_treeFiles nodeMachine(const std::string& sizes, const std::string& allowed, bool interleaved) {
  const std::vector<int64_t> nodeSizes = numbers(sizes);
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
  for (const auto& c : dataCases("platform/node_groups.txt")) {
    SCOPED_TRACE(c.fields[0]);
    const _tempTree tree(nodeMachine(c.fields[0], c.fields[1], c.fields[2] == "1"));
    const _scopedRoot root(tree.root());
    std::string sizes;
    for (const auto& shape : groupShapes()) sizes += (sizes.empty() ? "" : " ") + std::to_string(shape[0]);
    EXPECT_EQ(sizes, c.fields[3]);
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
    GROUP_AFFINITY all = {~0ull, 0, {0, 0, 0}};
    ASSERT_TRUE(SetThreadGroupAffinity(thread, &all, nullptr));
    std::vector<int> group0(list.cpus.begin(), list.cpus.begin() + list.groupSize(0));
    std::sort(group0.begin(), group0.end());
    EXPECT_EQ(linuxLayer::threadAffinity(), group0);
    GROUP_AFFINITY missing = {~0ull, static_cast<WORD>(list.groupCount()), {0, 0, 0}};
    EXPECT_FALSE(SetThreadGroupAffinity(thread, &missing, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(thread));
  }).join();
}

TEST(RatedClock, SourcesInOrder) {
  for (const auto& c : dataCases("platform/rated_clocks.txt")) {
    SCOPED_TRACE(c.fields[1]);
    const _tempTree tree(c.files);
    tree.write({{"sys/devices/system/cpu/online", "0"}});
    const _scopedRoot root(tree.root());
    EXPECT_EQ(ratedClockOfAll(), std::make_pair(std::stol(c.fields[0]), c.fields[1]));
  }
}

TEST(PerfData, UnknownObjectShortBufferAndMissingClocks) {
  _tempTree tree({{"sys/devices/system/cpu/online", "0-2"},
                 {"sys/devices/system/cpu/cpu1/cpufreq/scaling_cur_freq", "1500000\n"},
                 {"proc/cpuinfo", "processor : 0\ncpu MHz : garbage\n"}});
  _scopedRoot root(tree.root());
  EXPECT_TRUE(currentClocks(238).empty());  // the older Processor object is not served

  const DWORD index = linuxLayer::processorInformationIndex;
  std::vector<BYTE> data(200);
  DWORD size = static_cast<DWORD>(data.size());
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, std::to_string(index).c_str(), nullptr, nullptr, data.data(), &size),
            ERROR_MORE_DATA);
  // An unknown clock is 0.
  EXPECT_EQ(currentClocks(index), (std::vector<uint32_t>{0, 1500, 0}));
}

TEST(Registry, KeyPathsAndClosedKeys) {
  const _scopedRoot root(machineRoot("intel-i5-M560-dell-e4310"));
  const std::string base = "Hardware\\Description\\System\\CentralProcessor\\";
  HKEY key = nullptr;
  for (const std::string& path : {base + "00", base, base + "-1", base + "4", base + "1x", "Software\\" + base}) {
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path).c_str(), 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr) << path;
  }
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DESCRIPTION\\SYSTEM\\CENTRALPROCESSOR\\1", 0,
                          KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"~MHz", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace ps
