// Processor topology in the Windows forms, built from sysfs.
#pragma once

#include <vector>

#include "platform/linux/processor_groups.h"
#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

// The calling thread's kernel affinity, ascending (empty when unknown).
std::vector<int> threadAffinity();

// The group of the first of `affinity` that is one of the logical
// processors; 0 when none is.
int groupOfAffinity(const _processorList& list, const std::vector<int>& affinity);

// The kernel CPUs a GROUP_AFFINITY names, ascending. False for a group that
// does not exist, reserved words that are not zero, or a mask without a
// processor.
bool groupAffinityCpus(const _processorList& list, const GROUP_AFFINITY& affinity, std::vector<int>* cpus);

}  // namespace linuxLayer
}  // namespace ps
