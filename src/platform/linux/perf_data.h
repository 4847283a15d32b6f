// The performance-counter view of the processors' clocks, in the forms that
// HKEY_PERFORMANCE_TEXT and HKEY_PERFORMANCE_DATA give on Windows.
#pragma once

#include <string>
#include <vector>

#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

constexpr DWORD processorInformationIndex = 1846;
constexpr DWORD processorFrequencyIndex = 1848;
constexpr DWORD processorPerformanceIndex = 1850;

// The "Counter" value: index and English name pairs as NUL-terminated ASCII
// strings, closed by an empty string (the wide call widens it).
std::string counterNameTable();

// The data block for a value name: the processor object for "1846", no
// object for anything else.
std::vector<BYTE> performanceDataBlock(const std::string& valueName);

}  // namespace linuxLayer
}  // namespace ps
