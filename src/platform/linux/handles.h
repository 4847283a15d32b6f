// Pseudo handles that the Linux layer hands out in place of kernel objects.
#pragma once

#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

// The values Windows uses for its own current-process and current-thread
// pseudo handles.
inline HANDLE currentProcessHandle() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }
inline HANDLE currentThreadHandle() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }
inline HANDLE processHeapHandle() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x48656170)); }

}  // namespace linuxLayer
}  // namespace ps
