#include "platform/linux/cpu_list.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

#include "platform/linux/system_root.h"

namespace ps {
namespace linuxLayer {

namespace {

bool parseCpuNumber(const std::string& text, size_t* pos, int* value) {
  unsigned long long number = 0;
  if (!parseDigits(text, pos, maxCpuNumber, &number)) return false;
  *value = static_cast<int>(number);
  return true;
}

// Keeps only the CPUs of `narrower`; data that would leave nothing is
// inconsistent (a process always runs somewhere) and is ignored.
void narrowTo(std::vector<int>* cpus, const std::vector<int>& narrower) {
  std::vector<int> both = intersectCpus(*cpus, narrower);
  if (!both.empty()) cpus->swap(both);
}

void collectCpuDirectory(const char* name, void* context) {
  // "cpu" followed by a canonical decimal number only (not cpufreq, cpuidle).
  unsigned long long cpu = 0;
  if (std::strncmp(name, "cpu", 3) != 0 || !parseCanonicalNumber(name + 3, maxCpuNumber, &cpu))
    return;
  static_cast<std::vector<int>*>(context)->push_back(static_cast<int>(cpu));
}

std::vector<int> readOnlineCpus() {
  std::string text;
  std::vector<int> cpus;
  if (readSystemFile("sys/devices/system/cpu/online", smallFileCap, &text) == 0 &&
      parseCpuList(text, &cpus))
    return cpus;

  std::vector<int> found;
  listSystemDirectory("sys/devices/system/cpu", collectCpuDirectory, &found);
  for (const int cpu : found) {
    // cpu0 often has no "online" file: it cannot be taken offline.
    const std::string path = "sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/online";
    if (readSystemFile(path.c_str(), smallFileCap, &text) == 0 && trimmed(text) == "0") continue;
    cpus.push_back(cpu);
  }
  std::sort(cpus.begin(), cpus.end());
  cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
  return cpus;
}

bool readAllowedCpus(std::vector<int>* cpus) {
  std::string status, list;
  return readSystemFile("proc/self/status", smallFileCap, &status) == 0 &&
         lineValue(status, "Cpus_allowed_list:", &list) && parseCpuList(list, cpus);
}

// Mount points in proc/mounts escape blanks and backslashes as \ooo.
std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool hasOption(const std::string& options, const char* wanted) {
  size_t start = 0;
  while (start <= options.size()) {
    size_t end = options.find(',', start);
    if (end == std::string::npos) end = options.size();
    if (options.compare(start, end - start, wanted) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool tryCpusetFile(const std::string& path, std::vector<int>* cpus) {
  std::string text;
  return readSystemFile(path.c_str(), smallFileCap, &text) == 0 && parseCpuList(text, cpus);
}

// The effective CPUs of the process's cpuset cgroup (v1 or v2), found through
// proc/self/cpuset and the mount table. The kernel already keeps the affinity
// inside it; this matters where proc/self/status is not there to say so.
bool readCgroupCpus(std::vector<int>* cpus) {
  std::string cgroup;
  if (readSystemFile("proc/self/cpuset", smallFileCap, &cgroup) != 0) return false;
  cgroup = trimmed(cgroup);
  if (cgroup.empty() || cgroup[0] != '/' || cgroup.find("/..") != std::string::npos) return false;
  if (cgroup == "/") cgroup.clear();

  std::string mounts;
  if (readSystemLines("proc/mounts", cpuinfoCap, &mounts) != 0) return false;
  size_t line = 0;
  while (line < mounts.size()) {
    size_t end = mounts.find('\n', line);
    if (end == std::string::npos) end = mounts.size();
    // device, mount point, type, options
    std::string fields[4];
    size_t count = 0;
    for (size_t at = line; count < 4;) {
      at = mounts.find_first_not_of(" \t", at);
      if (at >= end) break;
      size_t fieldEnd = mounts.find_first_of(" \t\n", at);
      if (fieldEnd > end) fieldEnd = end;
      fields[count++] = mounts.substr(at, fieldEnd - at);
      at = fieldEnd;
    }
    line = end + 1;
    if (count < 4) continue;
    const std::string base = unescapeMountField(fields[1]) + cgroup;
    if (base.find("/..") != std::string::npos) continue;
    if (fields[2] == "cgroup2") {
      if (tryCpusetFile(base + "/cpuset.cpus.effective", cpus)) return true;
    } else if (fields[2] == "cgroup" && hasOption(fields[3], "cpuset")) {
      if (tryCpusetFile(base + "/cpuset.effective_cpus", cpus)) return true;
      if (tryCpusetFile(base + "/cpuset.cpus", cpus)) return true;
    }
  }
  return false;
}

}  // namespace

bool parseCpuList(const std::string& text, std::vector<int>* cpus) {
  const std::string list = trimmed(text);
  if (list.empty()) return false;
  // Marks rather than a list of every range: overlapping ranges in a garbage
  // file cannot make it grow without bound, and the result comes out sorted.
  std::vector<bool> listed(maxCpuNumber + 1, false);
  size_t pos = 0;
  for (;;) {
    int first = 0;
    if (!parseCpuNumber(list, &pos, &first)) return false;
    int last = first;
    if (pos < list.size() && list[pos] == '-') {
      ++pos;
      if (!parseCpuNumber(list, &pos, &last) || last < first) return false;
    }
    for (int cpu = first; cpu <= last; ++cpu) listed[cpu] = true;
    if (pos == list.size()) break;
    if (list[pos] != ',') return false;
    ++pos;
  }
  cpus->clear();
  for (int cpu = 0; cpu <= maxCpuNumber; ++cpu)
    if (listed[cpu]) cpus->push_back(cpu);
  return true;
}

std::vector<int> intersectCpus(const std::vector<int>& a, const std::vector<int>& b) {
  std::vector<int> both;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
  return both;
}

namespace {

std::string cpuFile(int cpu, const char* name) {
  return "sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/" + name;
}

// physical_package_id may be -1 where the architecture does not know it.
bool readPackageId(int cpu, long* id) {
  std::string text;
  if (readSystemFile(cpuFile(cpu, "topology/physical_package_id").c_str(), smallFileCap, &text) != 0)
    return false;
  text = trimmed(text);
  const bool negative = !text.empty() && text[0] == '-';
  unsigned long long value = 0;
  if (!parseUnsigned(negative ? text.substr(1) : text, 1u << 30, &value)) return false;
  *id = negative ? -static_cast<long>(value) : static_cast<long>(value);
  return true;
}

// The cores of the usable CPUs from thread_siblings_list, in ascending order
// of their lowest CPU; a CPU without topology files is a core of its own.
// Counting (package, core_id) pairs instead would merge the cores of two
// dies in one package.
std::vector<std::vector<int>> readCores(const std::vector<int>& usable) {
  std::vector<std::vector<int>> cores;
  std::vector<bool> taken(usable.size(), false);
  const auto indexOf = [&](int cpu) {
    const auto it = std::lower_bound(usable.begin(), usable.end(), cpu);
    return it != usable.end() && *it == cpu ? static_cast<int>(it - usable.begin()) : -1;
  };
  for (size_t i = 0; i < usable.size(); ++i) {
    if (taken[i]) continue;
    std::vector<int> core = {usable[i]};
    taken[i] = true;
    std::string text;
    std::vector<int> siblings;
    if (readSystemFile(cpuFile(usable[i], "topology/thread_siblings_list").c_str(), smallFileCap, &text) == 0 &&
        parseCpuList(text, &siblings)) {
      for (const int sibling : siblings) {
        const int at = indexOf(sibling);
        if (at < 0 || taken[at]) continue;
        taken[at] = true;
        core.push_back(sibling);
      }
    }
    std::sort(core.begin(), core.end());
    // No core is larger than a group; a garbage sibling list could say so.
    for (size_t from = 0; from < core.size(); from += maxGroupSize)
      cores.emplace_back(core.begin() + from, core.begin() + std::min(core.size(), from + maxGroupSize));
  }
  return cores;
}

void collectNodeDirectory(const char* name, void* context) {
  unsigned long long node = 0;
  if (std::strncmp(name, "node", 4) == 0 && parseCanonicalNumber(name + 4, 1u << 20, &node))
    static_cast<std::vector<int>*>(context)->push_back(static_cast<int>(node));
}

// A domain per usable CPU: its NUMA node, or its package where no node
// lists it. Groups keep domains whole where they can.
std::vector<long> readDomains(const std::vector<int>& usable, const std::vector<int>& packages) {
  constexpr long packageDomains = 1l << 40;
  std::vector<long> domains(usable.size(), -1);
  std::vector<int> nodes;
  listSystemDirectory("sys/devices/system/node", collectNodeDirectory, &nodes);
  std::sort(nodes.begin(), nodes.end());
  for (const int node : nodes) {
    std::string text;
    std::vector<int> cpus;
    const std::string path = "sys/devices/system/node/node" + std::to_string(node) + "/cpulist";
    if (readSystemFile(path.c_str(), smallFileCap, &text) != 0 || !parseCpuList(text, &cpus)) continue;
    for (const int cpu : intersectCpus(usable, cpus)) {
      const size_t at = std::lower_bound(usable.begin(), usable.end(), cpu) - usable.begin();
      if (domains[at] < 0) domains[at] = node;
    }
  }
  for (size_t i = 0; i < usable.size(); ++i)
    if (domains[i] < 0) domains[i] = packageDomains + packages[i];
  return domains;
}

// Cuts a domain (its cores' sizes) into as few parts of at most a group as
// its core boundaries allow, as even as they allow. Returns the number of
// cores in each part.
std::vector<size_t> splitDomain(const std::vector<int>& coreSizes) {
  int total = 0;
  for (const int size : coreSizes) total += size;
  for (int parts = (total + maxGroupSize - 1) / maxGroupSize;; ++parts) {
    std::vector<size_t> counts;
    size_t next = 0;
    int left = total;
    bool fits = true;
    for (int part = 0; part < parts && next < coreSizes.size(); ++part) {
      const int target = (left + (parts - part) - 1) / (parts - part);
      int size = 0;
      size_t count = 0;
      while (next < coreSizes.size() &&
             (part == parts - 1 || size == 0 || size + coreSizes[next] <= target)) {
        size += coreSizes[next++];
        ++count;
      }
      fits = fits && size <= maxGroupSize;
      left -= size;
      counts.push_back(count);
    }
    if (fits) return counts;
  }
}

// Packs parts (by size) into as few groups of at most 64 as it can, largest
// part first into the emptiest group that has room, which keeps the groups
// as even as the parts allow. Returns the group of each part.
std::vector<int> packParts(const std::vector<int>& sizes) {
  int total = 0;
  for (const int size : sizes) total += size;
  std::vector<size_t> order(sizes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
  for (int groups = (total + maxGroupSize - 1) / maxGroupSize;; ++groups) {
    std::vector<int> loads(groups, 0), groupOf(sizes.size(), -1);
    bool placed = true;
    for (const size_t part : order) {
      int best = -1;
      for (int g = 0; g < groups; ++g)
        if (loads[g] + sizes[part] <= maxGroupSize && (best < 0 || loads[g] < loads[best])) best = g;
      if (best < 0) {
        placed = false;
        break;
      }
      loads[best] += sizes[part];
      groupOf[part] = best;
    }
    if (placed) return groupOf;
  }
}

}  // namespace

int _processorList::groupStart(int group) const {
  return group >= 0 && group < groupCount() ? groupStarts[group] : count();
}

int _processorList::groupSize(int group) const {
  if (group < 0 || group >= groupCount()) return 0;
  return groupStart(group + 1) - groupStarts[group];
}

int _processorList::logicalOf(int cpu) const {
  const auto it = std::lower_bound(byCpu.begin(), byCpu.end(), std::make_pair(cpu, -1));
  return it != byCpu.end() && it->first == cpu ? it->second : -1;
}

int _processorList::groupOf(int logical) const {
  const auto it = std::upper_bound(groupStarts.begin(), groupStarts.end(), logical);
  return it == groupStarts.begin() ? -1 : static_cast<int>(it - groupStarts.begin()) - 1;
}

std::vector<int> readUsableCpus() {
  std::vector<int> cpus = readOnlineCpus();
  if (cpus.empty() && isRealRoot()) {
    // No sysfs (some containers): the C library's count is all there is.
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    for (long cpu = 0; cpu < online && cpu <= maxCpuNumber; ++cpu) cpus.push_back(static_cast<int>(cpu));
  }
  std::vector<int> narrower;
  if (readAllowedCpus(&narrower)) narrowTo(&cpus, narrower);
  if (readCgroupCpus(&narrower)) narrowTo(&cpus, narrower);
  return cpus;
}

_processorList readProcessorList() {
  const std::vector<int> usable = readUsableCpus();
  // Packages, numbered in the order their first CPU appears; a CPU whose
  // package cannot be read is a package of its own.
  std::vector<int> packageOf(usable.size());
  std::map<long, int> packageIndex;
  int packageCount = 0;
  for (size_t i = 0; i < usable.size(); ++i) {
    long id = 0;
    if (!readPackageId(usable[i], &id)) {
      packageOf[i] = packageCount++;
      continue;
    }
    const auto added = packageIndex.emplace(id, packageCount);
    if (added.second) ++packageCount;
    packageOf[i] = added.first->second;
  }
  const auto indexOf = [&](int cpu) {
    return static_cast<size_t>(std::lower_bound(usable.begin(), usable.end(), cpu) - usable.begin());
  };

  const std::vector<std::vector<int>> cores = readCores(usable);
  // Cores of each group, in ascending order of their lowest CPU.
  std::vector<std::vector<size_t>> groups;
  if (usable.empty()) {
  } else if (usable.size() <= static_cast<size_t>(maxGroupSize)) {
    groups.emplace_back();
    for (size_t c = 0; c < cores.size(); ++c) groups[0].push_back(c);
  } else {
    // Domains in the order of their lowest CPU; a core goes with its lowest CPU.
    const std::vector<long> domainOf = readDomains(usable, packageOf);
    std::map<long, size_t> domainIndex;
    std::vector<std::vector<size_t>> domainCores;
    for (size_t c = 0; c < cores.size(); ++c) {
      const auto added = domainIndex.emplace(domainOf[indexOf(cores[c][0])], domainCores.size());
      if (added.second) domainCores.emplace_back();
      domainCores[added.first->second].push_back(c);
    }
    std::vector<std::vector<size_t>> parts;
    std::vector<int> partSizes;
    for (const auto& domain : domainCores) {
      std::vector<int> coreSizes;
      for (const size_t c : domain) coreSizes.push_back(static_cast<int>(cores[c].size()));
      size_t next = 0;
      for (const size_t count : splitDomain(coreSizes)) {
        parts.emplace_back(domain.begin() + next, domain.begin() + next + count);
        partSizes.push_back(0);
        for (size_t i = next; i < next + count; ++i) partSizes.back() += coreSizes[i];
        next += count;
      }
    }
    const std::vector<int> groupOfPart = packParts(partSizes);
    for (size_t p = 0; p < parts.size(); ++p) {
      if (groupOfPart[p] >= static_cast<int>(groups.size())) groups.resize(groupOfPart[p] + 1);
      groups[groupOfPart[p]].insert(groups[groupOfPart[p]].end(), parts[p].begin(), parts[p].end());
    }
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [](const std::vector<size_t>& g) { return g.empty(); }),
                 groups.end());
    // Core indexes follow the lowest CPUs, so sorting them orders the cores
    // and then the groups.
    for (auto& g : groups) std::sort(g.begin(), g.end());
    std::sort(groups.begin(), groups.end());
  }

  _processorList list;
  for (const auto& group : groups) {
    list.groupStarts.push_back(list.count());
    for (const size_t c : group) {
      list.coreStarts.push_back(list.count());
      for (const int cpu : cores[c]) {
        list.byCpu.emplace_back(cpu, list.count());
        list.packages.push_back(packageOf[indexOf(cpu)]);
        list.cpus.push_back(cpu);
      }
    }
  }
  std::sort(list.byCpu.begin(), list.byCpu.end());
  return list;
}

}  // namespace linuxLayer
}  // namespace ps
