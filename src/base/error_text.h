// Windows error and exception codes as one line of text.
#pragma once

#include <cstdint>

#include "base/fixed_string.h"

namespace ps {

// Stands for the calling thread's last error.
constexpr uint32_t callingThreadLastError = 0xFFFFFFFF;

_fixedString<250>& systemErrorText(_fixedString<250>& out, uint32_t code);
_fixedString<500>& exceptionCodeText(_fixedString<500>& out, uint32_t code);

// Appends systemErrorText of code to out, cut at its capacity.
template <int N>
void appendSystemErrorText(_fixedString<N>& out, uint32_t code) {
  _fixedString<250> message;
  out.append(systemErrorText(message, code));
}

// Test seam: the message lookup both functions call, with FormatMessageA's
// arguments and result. Null restores FormatMessageA.
typedef uint32_t (*_messageLookup)(uint32_t flags, const void* source, uint32_t code, uint32_t language,
                                   char* buffer, uint32_t size);
void setMessageLookup(_messageLookup lookup);

}  // namespace ps
