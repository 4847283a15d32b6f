#include "machine/processor_records.h"

#include <cstdlib>

namespace ps {

namespace {

// The size can grow between the calls; a bounded number of tries avoids a
// hang when it keeps growing.
constexpr int maxTries = 16;

}  // namespace

bool readProcessorRecords(_processorRecords& out) {
  out = _processorRecords{nullptr, 0, 0, false};
  BOOL ok = GetLogicalProcessorInformation(nullptr, &out.length);
  out.error = ok ? 0 : GetLastError();
  for (int tries = 0; !ok && out.error == ERROR_INSUFFICIENT_BUFFER && tries < maxTries; ++tries) {
    free(out.bytes);
    out.bytes = (uint8_t*)malloc(out.length > 0 ? out.length : 1);
    if (!out.bytes) {
      out.allocationFailed = true;
      out.length = 0;
      return false;
    }
    ok = GetLogicalProcessorInformation((SYSTEM_LOGICAL_PROCESSOR_INFORMATION*)out.bytes, &out.length);
    out.error = ok ? 0 : GetLastError();
  }
  if (!ok || !out.bytes) out.length = 0;
  return ok;
}

void releaseProcessorRecords(_processorRecords& records) {
  free(records.bytes);
  records.bytes = nullptr;
  records.length = 0;
}

}  // namespace ps
