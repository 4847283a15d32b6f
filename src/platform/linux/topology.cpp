#include "platform/linux/topology.h"

#include <sched.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "platform/linux/handles.h"
#include "platform/linux/system_root.h"

namespace ps {

namespace linuxLayer {

namespace {

std::string topologyPath(int cpu, const char* name) {
  return "sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/" + name;
}

// physical_package_id may be -1 where the architecture does not know it.
bool readPackageId(int cpu, long* id) {
  std::string text;
  if (readSystemFile(topologyPath(cpu, "physical_package_id").c_str(), kSmallFileCap, &text) != 0)
    return false;
  text = trimmed(text);
  const bool negative = !text.empty() && text[0] == '-';
  unsigned long long value = 0;
  if (!parseUnsigned(negative ? text.substr(1) : text, 1u << 30, &value)) return false;
  *id = negative ? -static_cast<long>(value) : static_cast<long>(value);
  return true;
}

SYSTEM_LOGICAL_PROCESSOR_INFORMATION makeRecord(LOGICAL_PROCESSOR_RELATIONSHIP relation,
                                                ULONG_PTR mask) {
  SYSTEM_LOGICAL_PROCESSOR_INFORMATION record;
  std::memset(&record, 0, sizeof(record));
  record.ProcessorMask = mask;
  record.Relationship = relation;
  return record;
}

}  // namespace

std::vector<int> threadAffinity() {
  std::vector<int> cpus;
  const size_t size = CPU_ALLOC_SIZE(kMaxCpuNumber + 1);
  cpu_set_t* set = CPU_ALLOC(kMaxCpuNumber + 1);
  if (set == nullptr) return cpus;
  CPU_ZERO_S(size, set);
  if (sched_getaffinity(0, size, set) == 0) {
    for (int cpu = 0; cpu <= kMaxCpuNumber; ++cpu)
      if (CPU_ISSET_S(cpu, size, set)) cpus.push_back(cpu);
  }
  CPU_FREE(set);
  return cpus;
}

int groupOfAffinity(const processorList& list, const std::vector<int>& affinity) {
  for (const int cpu : affinity) {
    const int logical = list.logicalOf(cpu);
    if (logical >= 0) return logical / kGroupSize;
  }
  return 0;
}

std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> processorRecords(const processorList& list,
                                                                   int group) {
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records;
  const int first = group * kGroupSize;
  const int size = list.groupSize(group);
  if (size <= 0) return records;

  // Cores: a processor's thread siblings, as far as they are in this group.
  // Counting (package, core_id) pairs instead would merge the cores of two
  // dies in one package.
  ULONG_PTR assigned = 0;
  for (int bit = 0; bit < size; ++bit) {
    if (assigned & (ULONG_PTR{1} << bit)) continue;
    ULONG_PTR mask = ULONG_PTR{1} << bit;
    std::string text;
    std::vector<int> siblings;
    if (readSystemFile(topologyPath(list.cpus[first + bit], "thread_siblings_list").c_str(),
                       kSmallFileCap, &text) == 0 &&
        parseCpuList(text, &siblings)) {
      for (const int sibling : siblings) {
        const int logical = list.logicalOf(sibling) - first;
        if (logical >= 0 && logical < size) mask |= ULONG_PTR{1} << logical;
      }
    }
    mask &= ~assigned;
    assigned |= mask;
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION record = makeRecord(RelationProcessorCore, mask);
    // As on Windows: flag 1 marks a core that runs several threads.
    record.ProcessorCore.Flags = __builtin_popcountll(mask) > 1 ? 1 : 0;
    records.push_back(record);
  }

  // Packages, in the order their first processor appears. A processor whose
  // package cannot be read is a package of its own.
  std::vector<ULONG_PTR> packageMasks;
  std::map<long, size_t> packageIndex;
  for (int bit = 0; bit < size; ++bit) {
    long id = 0;
    if (readPackageId(list.cpus[first + bit], &id)) {
      const auto found = packageIndex.find(id);
      if (found != packageIndex.end()) {
        packageMasks[found->second] |= ULONG_PTR{1} << bit;
        continue;
      }
      packageIndex[id] = packageMasks.size();
    }
    packageMasks.push_back(ULONG_PTR{1} << bit);
  }
  for (const ULONG_PTR mask : packageMasks)
    records.push_back(makeRecord(RelationProcessorPackage, mask));
  return records;
}

bool groupAffinityCpus(const processorList& list, const GROUP_AFFINITY& affinity,
                       std::vector<int>* cpus) {
  cpus->clear();
  if (affinity.Reserved[0] != 0 || affinity.Reserved[1] != 0 || affinity.Reserved[2] != 0)
    return false;
  const int size = list.groupSize(affinity.Group);
  for (int bit = 0; bit < size; ++bit)
    if (affinity.Mask & (KAFFINITY{1} << bit))
      cpus->push_back(list.cpus[affinity.Group * kGroupSize + bit]);
  return !cpus->empty();
}

}  // namespace linuxLayer

using namespace linuxLayer;

BOOL GetLogicalProcessorInformation(SYSTEM_LOGICAL_PROCESSOR_INFORMATION* buffer,
                                    DWORD* returnedLength) {
  if (returnedLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const processorList list = readProcessorList();
  const auto records = processorRecords(list, groupOfAffinity(list, threadAffinity()));
  const DWORD needed = static_cast<DWORD>(records.size() * sizeof(records[0]));
  if (needed > *returnedLength || (buffer == nullptr && needed > 0)) {
    *returnedLength = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (needed > 0) std::memcpy(buffer, records.data(), needed);
  *returnedLength = needed;
  return TRUE;
}

BOOL GetLogicalProcessorInformationEx(LOGICAL_PROCESSOR_RELATIONSHIP relationship,
                                      SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX* buffer,
                                      DWORD* returnedLength) {
  // Only the group relation is answered; the callers ask for nothing else.
  if (returnedLength == nullptr || relationship != RelationGroup) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const processorList list = readProcessorList();
  const int groups = list.groupCount();
  size_t size = offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Group) +
                offsetof(GROUP_RELATIONSHIP, GroupInfo) + sizeof(PROCESSOR_GROUP_INFO) * groups;
  if (size < sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX))
    size = sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX);
  const DWORD needed = static_cast<DWORD>(size);
  if (buffer == nullptr || *returnedLength < needed) {
    *returnedLength = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(buffer, 0, needed);
  buffer->Relationship = RelationGroup;
  buffer->Size = needed;
  buffer->Group.MaximumGroupCount = static_cast<WORD>(groups);
  buffer->Group.ActiveGroupCount = static_cast<WORD>(groups);
  // GroupInfo is declared with one entry; the record holds `groups` of them.
  BYTE* info = reinterpret_cast<BYTE*>(buffer) + offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Group) +
               offsetof(GROUP_RELATIONSHIP, GroupInfo);
  for (int group = 0; group < groups; ++group) {
    PROCESSOR_GROUP_INFO entry;
    std::memset(&entry, 0, sizeof(entry));
    const int count = list.groupSize(group);
    entry.MaximumProcessorCount = static_cast<BYTE>(count);
    entry.ActiveProcessorCount = static_cast<BYTE>(count);
    entry.ActiveProcessorMask = count >= 64 ? ~KAFFINITY{0} : (KAFFINITY{1} << count) - 1;
    std::memcpy(info + group * sizeof(entry), &entry, sizeof(entry));
  }
  *returnedLength = needed;
  return TRUE;
}

WORD GetActiveProcessorGroupCount() {
  return static_cast<WORD>(readProcessorList().groupCount());
}

HANDLE OpenThread(DWORD, BOOL, DWORD) { return currentThreadHandle(); }

BOOL SetThreadGroupAffinity(HANDLE thread, const GROUP_AFFINITY* groupAffinity,
                            GROUP_AFFINITY* previousGroupAffinity) {
  if (thread != currentThreadHandle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const processorList list = readProcessorList();
  std::vector<int> cpus;
  if (groupAffinity == nullptr || !groupAffinityCpus(list, *groupAffinity, &cpus)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }

  GROUP_AFFINITY previous;
  std::memset(&previous, 0, sizeof(previous));
  const std::vector<int> current = threadAffinity();
  previous.Group = static_cast<WORD>(groupOfAffinity(list, current));
  for (const int cpu : current) {
    const int logical = list.logicalOf(cpu) - previous.Group * kGroupSize;
    if (logical >= 0 && logical < kGroupSize) previous.Mask |= KAFFINITY{1} << logical;
  }

  const size_t size = CPU_ALLOC_SIZE(kMaxCpuNumber + 1);
  cpu_set_t* set = CPU_ALLOC(kMaxCpuNumber + 1);
  if (set == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  CPU_ZERO_S(size, set);
  for (const int cpu : cpus) CPU_SET_S(cpu, size, set);
  const int result = sched_setaffinity(0, size, set);
  const int error = errno;
  CPU_FREE(set);
  if (result != 0) {
    SetLastError(error == EINVAL ? ERROR_INVALID_PARAMETER : errorFromErrno(error));
    return FALSE;
  }
  if (previousGroupAffinity != nullptr) *previousGroupAffinity = previous;
  return TRUE;
}

}  // namespace ps
