#include "platform/linux/utf16.h"

namespace ps {
namespace linuxLayer {

std::u16string utf16FromUtf8(const std::string& text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    unsigned int code = 0xFFFD;
    size_t length = 1;
    unsigned int minimum = 0;
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    }
    if (length > 1) {
      bool good = i + length <= text.size();
      for (size_t k = 1; good && k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        good = (next & 0xC0) == 0x80;
        code = (code << 6) | (next & 0x3F);
      }
      if (!good || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
        code = 0xFFFD;
        length = 1;
      }
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += length;
  }
  return out;
}

bool asciiFromUtf16(LPCWSTR wide, size_t maxLength, std::string* out) {
  out->clear();
  if (wide == nullptr) return true;
  for (size_t i = 0; wide[i] != 0; ++i) {
    if (wide[i] > 0x7F || i >= maxLength) return false;
    *out += static_cast<char>(wide[i]);
  }
  return true;
}

}  // namespace linuxLayer
}  // namespace ps
