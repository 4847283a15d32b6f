// The SMBIOS table as the kernel exports it under sys/firmware/dmi/tables.
#pragma once

#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

struct smbiosVersion {
  BYTE major;
  BYTE minor;
  BYTE docRevision;
};

// The version an entry point announces: "_SM3_" (64-bit), "_SM_" (32-bit) or
// the legacy "_DMI_". False for anything else or too short a structure.
bool parseEntryPoint(const std::string& entryPoint, smbiosVersion* version);

// Sum of the Memory Device (type 17) sizes in KiB, walking the structures
// with bounds checks and stopping at the first malformed one. False when no
// device reports a size.
bool installedMemoryKiB(const std::string& table, ULONGLONG* kib);

}  // namespace linuxLayer
}  // namespace ps
