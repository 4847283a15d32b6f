// Process, heap, handle and module operations. Linux has nothing to do for
// most of them; they answer as Windows would for the calls the program makes.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/handles.h"
#include "platform/linux/utf16.h"
#include "platform/windows_api.h"

namespace ps {

using namespace linuxLayer;

namespace {

// Module pseudo handles: distinct, non-null, never dereferenced.
HMODULE kernel32Handle() { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x6B330000)); }
HMODULE ntdllHandle() { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x6E740000)); }
HMODULE programHandle() { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000)); }

HMODULE moduleByName(const std::string& name) {
  if (strcasecmp(name.c_str(), "kernel32") == 0 || strcasecmp(name.c_str(), "kernel32.dll") == 0)
    return kernel32Handle();
  if (strcasecmp(name.c_str(), "ntdll") == 0 || strcasecmp(name.c_str(), "ntdll.dll") == 0)
    return ntdllHandle();
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

}  // namespace

HANDLE GetCurrentProcess() { return currentProcessHandle(); }

// Power throttling has no per-process switch on Linux; accepted as done.
BOOL SetProcessInformation(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD) { return TRUE; }

BOOL CloseHandle(HANDLE handle) {
  // Closing a pseudo handle is allowed and does nothing, as on Windows.
  if (handle == currentThreadHandle() || handle == currentProcessHandle()) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

HANDLE GetProcessHeap() { return processHeapHandle(); }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (heap == nullptr) return nullptr;
  // A zero-byte block is still a distinct block, as Windows gives.
  const SIZE_T size = bytes == 0 ? 1 : bytes;
  void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, size) : std::malloc(size);
  if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID memory) {
  if (heap == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::free(memory);
  return TRUE;
}

HMODULE GetModuleHandleA(const char* moduleName) {
  if (moduleName == nullptr) return programHandle();
  return moduleByName(moduleName);
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  if (moduleName == nullptr) return programHandle();
  std::string name;
  if (!asciiFromUtf16(moduleName, 260, &name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return moduleByName(name);
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  // Names below 0x10000 are ordinals, which this layer does not export.
  if (module == kernel32Handle() && reinterpret_cast<uintptr_t>(procName) >= 0x10000 &&
      std::strcmp(procName, "GetLogicalProcessorInformationEx") == 0)
    return reinterpret_cast<FARPROC>(&GetLogicalProcessorInformationEx);
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

}  // namespace ps
