// How Windows would group and number the usable processors: groups keep NUMA
// nodes (or, without node information, packages) whole where they can, and
// inside a group the processors go core by core, a core's threads one after
// the other.
#pragma once

#include <utility>
#include <vector>

namespace ps {
namespace linuxLayer {

constexpr int maxGroupSize = 64;

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

// The usable CPUs grouped and numbered.
_processorList readProcessorList();

}  // namespace linuxLayer
}  // namespace ps
