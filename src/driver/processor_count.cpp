#include "driver/processor_count.h"

#include <cstdlib>

#include "platform/windows_api.h"

namespace ps {

int getLogicalProcessorCount() {
  HMODULE kernel = GetModuleHandleW(reinterpret_cast<LPCWSTR>(u"kernel32"));
  FARPROC procedure = kernel ? GetProcAddress(kernel, "GetLogicalProcessorInformationEx") : nullptr;
  if (!procedure) return 1;
  // Through void*: the looked-up address has the generic procedure type.
  auto query = (GetLogicalProcessorInformationExFunction)(void*)procedure;

  DWORD length = 0;
  query(RelationGroup, nullptr, &length);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 1;

  auto* buffer = (BYTE*)malloc(length);
  if (!buffer || !query(RelationGroup, (SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*)buffer, &length)) {
    free(buffer);
    return -1;
  }

  int count = 0;
  const size_t groupsOffset = offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Group) +
                              offsetof(GROUP_RELATIONSHIP, GroupInfo);
  DWORD offset = 0;
  // Each record says its own size; one that would run past the returned
  // length, or claims no size at all, ends the walk.
  while (offset + groupsOffset <= length) {
    auto* record = (SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*)(buffer + offset);
    if (record->Size == 0 || record->Size > length - offset) break;
    if (record->Relationship == RelationGroup && record->Size >= groupsOffset) {
      size_t groups = record->Group.ActiveGroupCount;
      size_t room = (record->Size - groupsOffset) / sizeof(PROCESSOR_GROUP_INFO);
      if (groups > room) groups = room;
      auto* info = (const PROCESSOR_GROUP_INFO*)(buffer + offset + groupsOffset);
      for (size_t g = 0; g < groups; ++g) count += info[g].ActiveProcessorCount;
    }
    offset += record->Size;
  }
  free(buffer);
  return count;
}

}  // namespace ps
