// Conversions between the layer's narrow text and Windows UTF-16.
#pragma once

#include <cstddef>
#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

// UTF-8 (as the kernel writes names) to UTF-16; bad bytes become U+FFFD.
std::u16string utf16FromUtf8(const std::string& text);

// A UTF-16 name the layer matches as ASCII. False for non-ASCII text or more
// than `maxLength` units: such a name matches nothing here. Null gives "".
bool asciiFromUtf16(LPCWSTR wide, size_t maxLength, std::string* out);

}  // namespace linuxLayer
}  // namespace ps
