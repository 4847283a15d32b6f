// The calling thread's processor records from the topology call, asked for
// with the two-step size query.
#pragma once

#include <cstdint>

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

}  // namespace ps
