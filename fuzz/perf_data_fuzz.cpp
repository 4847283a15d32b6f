// Performance-data blocks and counter-name tables as the registry might hand
// them over: the walk and the lookups must answer without reading outside.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "machine/perf_counter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static uint32_t coreFrequency[ps::maxRecordedProcessors];
  static ps::_fixedString<1000> errorText;
  errorText.clear();
  // The indices the seed blocks use for "Processor Information", the two
  // "Processor Frequency" listings and "% Processor Performance".
  ps::readFrequencies(data, size, 1848, 1850, 1852, 1860, coreFrequency, errorText);
  ps::readFrequencies(data, size, 1848, 1850, -1, 1860, coreFrequency, errorText);

  ps::_byteBuffer table;
  if (size > 0 && table.reserve((int64_t)size, true)) {
    memcpy(table.block, data, size);
    table.setReadableLength((uint32_t)size);
    ps::findCounterIndex(table, "Processor Frequency");
    ps::findSecondCounterIndex(table, "Processor Frequency");
  }
  return 0;
}
