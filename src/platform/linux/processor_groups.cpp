#include "platform/linux/processor_groups.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "platform/linux/system_root.h"
#include "platform/linux/usable_cpus.h"

namespace ps {
namespace linuxLayer {

namespace {

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
