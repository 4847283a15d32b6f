#include "platform/linux/cpu_brand.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace ps {
namespace linuxLayer {

std::string brandName(const char (&raw)[48]) {
  const size_t length = strnlen(raw, sizeof raw);
  size_t start = 0;
  while (start < length && raw[start] == ' ') ++start;
  return std::string(raw + start, length - start);
}

std::string cpuidBrandName() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned int registers[12] = {};
  // GCC declares the result unsigned, clang int: compare it as unsigned in both.
  if (static_cast<unsigned int>(__get_cpuid_max(0x80000000u, nullptr)) < 0x80000004u) return "";
  for (unsigned int leaf = 0; leaf < 3; ++leaf) {
    unsigned int* r = registers + 4 * leaf;
    __cpuid(0x80000002u + leaf, r[0], r[1], r[2], r[3]);
  }
  char raw[48];
  std::memcpy(raw, registers, sizeof raw);
  return brandName(raw);
#else
  return "";
#endif
}

}  // namespace linuxLayer
}  // namespace ps
