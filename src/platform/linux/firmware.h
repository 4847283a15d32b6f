// The SMBIOS table as the kernel exports it under sys/firmware/dmi/tables.
#pragma once

#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

struct _smbiosVersion {
  BYTE major;
  BYTE minor;
};

// The version an entry point announces: "_SM3_" (64-bit), "_SM_" (32-bit) or
// the legacy "_DMI_". False for anything else or too short a structure.
bool parseEntryPoint(const std::string& entryPoint, _smbiosVersion* version);

// Sum of the Memory Device (type 17) sizes in KiB, up to the first
// malformed structure. False when no device reports a size.
bool installedMemoryKiB(const std::string& table, ULONGLONG* kib);

// block_size_bytes times the memory blocks whose state is online. Returns 0
// or an errno.
int onlineMemoryKiB(ULONGLONG* kib);

}  // namespace linuxLayer
}  // namespace ps
