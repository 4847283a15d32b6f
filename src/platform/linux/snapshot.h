// What the layer knows of the processors, read once per system root: every
// call answers from the same snapshot, so the counts, the records, the keys
// and the performance data can never disagree.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/cpu_facts.h"
#include "platform/linux/processor_groups.h"
#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

struct _processorSnapshot {
  _processorList list;
  // Per group: one core record per core, then one package record per package.
  std::vector<std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION>> records;
  // Per logical processor.
  std::vector<std::string> names;  // CPUID brand, else cpuinfo; empty when neither names one
  std::vector<_ratedClock> rated;
};

// Reads the snapshot on the first call and after every setSystemRoot.
std::shared_ptr<const _processorSnapshot> processorSnapshot();

}  // namespace linuxLayer
}  // namespace ps
