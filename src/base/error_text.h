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

}  // namespace ps
