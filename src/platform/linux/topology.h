// Processor topology in the Windows forms, built from sysfs.
#pragma once

#include <vector>

#include "platform/linux/cpu_list.h"
#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

// The calling thread's kernel affinity, ascending (empty when unknown).
std::vector<int> threadAffinity();

// The group of the lowest-numbered of `affinity` that is one of the logical
// processors; 0 when none is.
int groupOfAffinity(const processorList& list, const std::vector<int>& affinity);

// One core record per physical core (from thread_siblings_list; a processor
// without topology files is a core of its own), then one package record per
// physical_package_id, each with the bits of its processors in `group`.
std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> processorRecords(const processorList& list,
                                                                   int group);

// The kernel CPUs a GROUP_AFFINITY names. False for a group that does not
// exist, reserved words that are not zero, or a mask without a processor.
bool groupAffinityCpus(const processorList& list, const GROUP_AFFINITY& affinity,
                       std::vector<int>* cpus);

}  // namespace linuxLayer
}  // namespace ps
