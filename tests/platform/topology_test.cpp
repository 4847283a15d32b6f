#include <thread>

#include "platform/linux/topology.h"
#include "processor_calls.h"

namespace ps {
namespace {

using namespace testSupport;

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
