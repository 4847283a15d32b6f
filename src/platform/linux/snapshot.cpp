#include "platform/linux/snapshot.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/linux/cpu_brand.h"
#include "platform/linux/system_root.h"

namespace ps {
namespace linuxLayer {

namespace {

std::mutex snapshotMutex;
std::shared_ptr<const _processorSnapshot> current;
unsigned long currentGeneration = 0;

SYSTEM_LOGICAL_PROCESSOR_INFORMATION makeRecord(LOGICAL_PROCESSOR_RELATIONSHIP relation, ULONG_PTR mask) {
  SYSTEM_LOGICAL_PROCESSOR_INFORMATION record;
  std::memset(&record, 0, sizeof(record));
  record.ProcessorMask = mask;
  record.Relationship = relation;
  return record;
}

// A group's records: its cores (consecutive processors), then its packages
// in the order their first processor appears.
std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> groupRecords(const _processorList& list, int group) {
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records;
  const int first = list.groupStart(group), end = first + list.groupSize(group);
  for (size_t c = 0; c < list.coreStarts.size(); ++c) {
    const int start = list.coreStarts[c];
    if (start < first || start >= end) continue;
    const int stop = c + 1 < list.coreStarts.size() ? list.coreStarts[c + 1] : list.count();
    ULONG_PTR mask = 0;
    for (int logical = start; logical < stop; ++logical) mask |= ULONG_PTR{1} << (logical - first);
    records.push_back(makeRecord(RelationProcessorCore, mask));
  }
  std::vector<int> packages;
  std::vector<ULONG_PTR> masks;
  for (int logical = first; logical < end; ++logical) {
    const int package = list.packages[logical];
    size_t p = 0;
    while (p < packages.size() && packages[p] != package) ++p;
    if (p == packages.size()) {
      packages.push_back(package);
      masks.push_back(0);
    }
    masks[p] |= ULONG_PTR{1} << (logical - first);
  }
  for (const ULONG_PTR mask : masks) records.push_back(makeRecord(RelationProcessorPackage, mask));
  return records;
}

std::shared_ptr<const _processorSnapshot> readSnapshot() {
  auto snapshot = std::make_shared<_processorSnapshot>();
  snapshot->list = readProcessorList();
  const _processorList& list = snapshot->list;
  for (int group = 0; group < list.groupCount(); ++group) snapshot->records.push_back(groupRecords(list, group));
  _cpuinfoFile cpuinfo;
  readCpuinfo(&cpuinfo);
  // Windows names the processor by its CPUID brand string, which a sandboxed
  // kernel's "model name" may not repeat; a recorded machine answers from its
  // recording, never from the host's processor.
  const std::string brand = isRealRoot() ? cpuidBrandName() : "";
  for (const int cpu : list.cpus) {
    std::string name = brand;
    if (name.empty()) processorName(cpuinfo, cpu, &name);
    snapshot->names.push_back(name);
    snapshot->rated.push_back(ratedClock(cpuinfo, cpu, name));
  }
  // The rated clock belongs to the model, as Windows shows it: a hybrid part
  // whose small cores report a lower base clock keeps the first one found.
  std::map<std::string, _ratedClock> firstOfModel;
  for (size_t i = 0; i < snapshot->rated.size(); ++i) {
    const auto found = firstOfModel.find(snapshot->names[i]);
    if (found != firstOfModel.end())
      snapshot->rated[i] = found->second;
    else if (snapshot->rated[i].mhz > 0)
      firstOfModel[snapshot->names[i]] = snapshot->rated[i];
  }
  return snapshot;
}

}  // namespace

std::shared_ptr<const _processorSnapshot> processorSnapshot() {
  const unsigned long generation = rootGeneration();
  {
    std::lock_guard<std::mutex> lock(snapshotMutex);
    if (current != nullptr && currentGeneration == generation) return current;
  }
  // Read outside the lock; two first callers may both read, and either
  // result is the same machine.
  std::shared_ptr<const _processorSnapshot> fresh = readSnapshot();
  std::lock_guard<std::mutex> lock(snapshotMutex);
  current = fresh;
  currentGeneration = generation;
  return fresh;
}

}  // namespace linuxLayer
}  // namespace ps
