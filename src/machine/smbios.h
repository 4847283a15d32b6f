// Processor Max and Current Speed from the firmware's SMBIOS table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/fixed_string.h"

namespace ps {

struct _smbiosInfo {
  bool valid = false;
  _fixedString<250> errorText;
  uint16_t cpuMaxMHz = 0;
  uint16_t cpuCurrentMHz = 0;
};

_smbiosInfo readSmbios();
// Walks a raw table as the firmware call returns it (8-byte header, then the
// structures); never reads outside [raw, raw + size).
_smbiosInfo parseRawSmbios(const uint8_t* raw, size_t size);

}  // namespace ps
