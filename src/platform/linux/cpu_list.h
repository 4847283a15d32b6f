// Which logical processors the process has, and how Windows would group and
// number them: groups keep NUMA nodes (or, without node information,
// packages) whole where they can, and inside a group the processors go core
// by core, a core's threads one after the other.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ps {
namespace linuxLayer {

// Kernel CPU numbers above this are treated as garbage (the kernel's own
// limit is 8192).
constexpr int maxCpuNumber = 16383;
constexpr int maxGroupSize = 64;

// Parses the kernel's list form ("0-3,8,10-11"), sorted and without
// duplicates. False for empty or malformed text and numbers above the limit.
bool parseCpuList(const std::string& text, std::vector<int>* cpus);

struct _processorList {
  std::vector<int> cpus;         // kernel CPU of each logical processor, in Windows order
  std::vector<int> groupStarts;  // index in cpus of each group's first processor
  std::vector<int> coreStarts;   // index in cpus of each core's first thread
  std::vector<int> packages;     // package of each logical processor, numbered as first met
  std::vector<std::pair<int, int>> byCpu;  // (kernel CPU, index in cpus), ascending

  int count() const { return static_cast<int>(cpus.size()); }
  int groupCount() const { return static_cast<int>(groupStarts.size()); }
  int groupStart(int group) const;
  int groupSize(int group) const;
  // Index in cpus of a kernel CPU, -1 when it is not one of ours.
  int logicalOf(int cpu) const;
  // The group that holds logical processor `logical`.
  int groupOf(int logical) const;
};

// The online CPUs that the process may run on, ascending: the online list
// (or the cpuN directories that are not offline), narrowed by
// Cpus_allowed_list of proc/self/status and by the effective cgroup cpuset
// when those are there.
std::vector<int> readUsableCpus();

// The usable CPUs grouped and numbered.
_processorList readProcessorList();

// The CPUs in both ascending lists.
std::vector<int> intersectCpus(const std::vector<int>& a, const std::vector<int>& b);

}  // namespace linuxLayer
}  // namespace ps
