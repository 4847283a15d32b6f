// Which logical processors the process has, and how they are numbered and
// grouped. Logical processor i is the i-th of the usable kernel CPUs in
// ascending order; group g holds logical processors 64g .. 64g+63.
#pragma once

#include <string>
#include <vector>

namespace ps {
namespace linuxLayer {

// Kernel CPU numbers above this are treated as garbage (the kernel's own
// limit is 8192).
constexpr int kMaxCpuNumber = 16383;
constexpr int kGroupSize = 64;

// Parses the kernel's list form ("0-3,8,10-11"), sorted and without
// duplicates. False for empty or malformed text and numbers above the limit.
bool parseCpuList(const std::string& text, std::vector<int>* cpus);

struct processorList {
  std::vector<int> cpus;  // kernel CPU number of each logical processor, ascending

  int count() const { return static_cast<int>(cpus.size()); }
  int groupCount() const { return (count() + kGroupSize - 1) / kGroupSize; }
  int groupSize(int group) const;
  // Logical number of a kernel CPU, -1 when it is not one of ours.
  int logicalOf(int cpu) const;
};

// The online CPUs that the process may run on: the online list (or the cpuN
// directories that are not offline), narrowed by Cpus_allowed_list of
// proc/self/status and by the effective cgroup cpuset when those are there.
processorList readProcessorList();

// The CPUs in both ascending lists.
std::vector<int> intersectCpus(const std::vector<int>& a, const std::vector<int>& b);

}  // namespace linuxLayer
}  // namespace ps
