#include "platform/linux/topology.h"

#include <sched.h>

#include <cerrno>
#include <cstring>
#include <algorithm>

#include "platform/linux/handles.h"
#include "platform/linux/snapshot.h"
#include "platform/linux/system_root.h"
#include "platform/linux/usable_cpus.h"

namespace ps {

namespace linuxLayer {

std::vector<int> threadAffinity() {
  std::vector<int> cpus;
  const size_t size = CPU_ALLOC_SIZE(maxCpuNumber + 1);
  cpu_set_t* set = CPU_ALLOC(maxCpuNumber + 1);
  if (set == nullptr) return cpus;
  CPU_ZERO_S(size, set);
  if (sched_getaffinity(0, size, set) == 0) {
    for (int cpu = 0; cpu <= maxCpuNumber; ++cpu)
      if (CPU_ISSET_S(cpu, size, set)) cpus.push_back(cpu);
  }
  CPU_FREE(set);
  return cpus;
}

int groupOfAffinity(const _processorList& list, const std::vector<int>& affinity) {
  for (const int cpu : affinity) {
    const int logical = list.logicalOf(cpu);
    if (logical >= 0) return list.groupOf(logical);
  }
  return 0;
}

bool groupAffinityCpus(const _processorList& list, const GROUP_AFFINITY& affinity, std::vector<int>* cpus) {
  cpus->clear();
  if (affinity.Reserved[0] != 0 || affinity.Reserved[1] != 0 || affinity.Reserved[2] != 0) return false;
  const int first = list.groupStart(affinity.Group), size = list.groupSize(affinity.Group);
  for (int bit = 0; bit < size; ++bit)
    if (affinity.Mask & (KAFFINITY{1} << bit)) cpus->push_back(list.cpus[first + bit]);
  std::sort(cpus->begin(), cpus->end());
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
  const auto snapshot = processorSnapshot();
  // Under a recorded root this thread's real CPUs say nothing about the
  // recorded machine: it counts as running in group 0 there.
  const int group = isRealRoot() ? groupOfAffinity(snapshot->list, threadAffinity()) : 0;
  static const std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> none;
  const auto& records = group < snapshot->list.groupCount() ? snapshot->records[group] : none;
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
  const auto snapshot = processorSnapshot();
  const _processorList& list = snapshot->list;
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
  buffer->Group.ActiveGroupCount = static_cast<WORD>(groups);
  // GroupInfo is declared with one entry; the record holds `groups` of them.
  BYTE* info = reinterpret_cast<BYTE*>(buffer) + offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Group) +
               offsetof(GROUP_RELATIONSHIP, GroupInfo);
  for (int group = 0; group < groups; ++group) {
    PROCESSOR_GROUP_INFO entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.ActiveProcessorCount = static_cast<BYTE>(list.groupSize(group));
    std::memcpy(info + group * sizeof(entry), &entry, sizeof(entry));
  }
  *returnedLength = needed;
  return TRUE;
}

WORD GetActiveProcessorGroupCount() {
  return static_cast<WORD>(processorSnapshot()->list.groupCount());
}

HANDLE OpenThread(DWORD, BOOL, DWORD) { return currentThreadHandle(); }

BOOL SetThreadGroupAffinity(HANDLE thread, const GROUP_AFFINITY* groupAffinity,
                            GROUP_AFFINITY* previousGroupAffinity) {
  if (thread != currentThreadHandle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const auto snapshot = processorSnapshot();
  const _processorList& list = snapshot->list;
  std::vector<int> cpus;
  // The previous affinity is not answered: the program never asks for it.
  if (groupAffinity == nullptr || previousGroupAffinity != nullptr ||
      !groupAffinityCpus(list, *groupAffinity, &cpus)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }

  const size_t size = CPU_ALLOC_SIZE(maxCpuNumber + 1);
  cpu_set_t* set = CPU_ALLOC(maxCpuNumber + 1);
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
  return TRUE;
}

}  // namespace ps
