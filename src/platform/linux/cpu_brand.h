// The processor's brand string, read with CPUID as Windows reads it for
// "ProcessorNameString".
#pragma once

#include <string>

namespace ps {
namespace linuxLayer {

// The 48 bytes of CPUID leaves 0x80000002 to 0x80000004 as Windows keeps
// them: up to the first NUL, leading spaces dropped (Intel right-justifies
// the text), trailing ones kept. Empty when nothing else is left.
std::string brandName(const char (&raw)[48]);

// The running processor's brand name; empty where CPUID is missing or names
// nothing, so that the caller falls back to proc/cpuinfo.
std::string cpuidBrandName();

}  // namespace linuxLayer
}  // namespace ps
