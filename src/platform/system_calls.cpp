#include "platform/system_calls.h"

namespace ps {

namespace {

DWORD formatMessageWithoutInserts(DWORD flags, LPCVOID source, DWORD code, DWORD language, char* buffer,
                                  DWORD size) {
  return FormatMessageA(flags, source, code, language, buffer, size, nullptr);
}

}  // namespace

const _systemCalls realSystemCalls = {GetTickCount, Sleep, RegQueryValueExW, RegQueryValueExA,
                                      formatMessageWithoutInserts};
_systemCalls systemCalls = realSystemCalls;

}  // namespace ps
