// Which logical processors the process may run on, as kernel CPU numbers.
#pragma once

#include <string>
#include <vector>

namespace ps {
namespace linuxLayer {

// Kernel CPU numbers above this are treated as garbage (the kernel's own
// limit is 8192).
constexpr int maxCpuNumber = 16383;

// Parses the kernel's list form ("0-3,8,10-11"), sorted and without
// duplicates. False for empty or malformed text and numbers above the limit.
bool parseCpuList(const std::string& text, std::vector<int>* cpus);

// The CPUs in both ascending lists.
std::vector<int> intersectCpus(const std::vector<int>& a, const std::vector<int>& b);

// The online CPUs that the process may run on, ascending: the online list
// (or the cpuN directories that are not offline), narrowed by
// Cpus_allowed_list of proc/self/status and by the effective cgroup cpuset
// when those are there.
std::vector<int> readUsableCpus();

}  // namespace linuxLayer
}  // namespace ps
