// Any bytes, taken as the firmware's raw SMBIOS buffer (8-byte header, then
// the structures), must be walked without reading outside them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "machine/smbios.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized heap copy, so that any overread is caught.
  uint8_t* copy = (uint8_t*)malloc(size ? size : 1);
  if (!copy) return 0;
  if (size) memcpy(copy, data, size);
  ps::_smbiosInfo result = ps::parseRawSmbios(copy, size);
  if (!result.valid && result.errorText.isEmpty()) abort();
  if (result.errorText.length > 250 || result.errorText.text[result.errorText.length] != 0) abort();
  free(copy);
  return 0;
}
