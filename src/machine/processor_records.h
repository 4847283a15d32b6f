// The calling thread's processor records from the topology call, asked for
// with the two-step size query.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/windows_api.h"

namespace ps {

struct _processorRecords {
  uint8_t* bytes;  // owned: release with releaseProcessorRecords
  DWORD length;
  DWORD error;     // the last error when the call failed
  bool allocationFailed;
};

// True with the records in out; false with out.error or out.allocationFailed.
bool readProcessorRecords(_processorRecords& out);
void releaseProcessorRecords(_processorRecords& records);

// Calls f with the processor mask of every RelationProcessorCore record, in
// order, over the whole 32-byte records within length.
template <class F>
void forEachCoreMask(const uint8_t* bytes, uint64_t length, F f) {
  const uint64_t recordSize = sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION);
  for (uint64_t at = 0; bytes && at + recordSize <= length; at += recordSize) {
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION record;
    memcpy(&record, bytes + at, recordSize);
    if (record.Relationship == RelationProcessorCore) f((uint64_t)record.ProcessorMask);
  }
}

}  // namespace ps
