// The one seam of the tests. The system calls whose answers a test must
// choose (the clock, the registry's counter names and performance data, the
// message texts) are made through systemCalls, which holds the real ones; a
// test puts its own in place with _replacedSystemCalls, and the real ones
// come back when that ends. Nothing else in the program is replaced.
#pragma once

#include "platform/windows_api.h"

namespace ps {

struct _systemCalls {
  DWORD (*getTickCount)();
  void (*sleep)(DWORD milliseconds);
  LSTATUS (*regQueryValueExW)(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
  LSTATUS (*regQueryValueExA)(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
  // FormatMessageA without its insert arguments, which the program never passes.
  DWORD (*formatMessageA)(DWORD flags, LPCVOID source, DWORD code, DWORD language, char* buffer, DWORD size);
};

extern const _systemCalls realSystemCalls;
extern _systemCalls systemCalls;

// Replaces the calls while it lives; set before the threads that make them
// start, and gone only after they end.
struct _replacedSystemCalls {
  explicit _replacedSystemCalls(const _systemCalls& calls) { systemCalls = calls; }
  ~_replacedSystemCalls() { systemCalls = realSystemCalls; }
  _replacedSystemCalls(const _replacedSystemCalls&) = delete;
  _replacedSystemCalls& operator=(const _replacedSystemCalls&) = delete;
};

}  // namespace ps
