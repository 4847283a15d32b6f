// The registry as the program reads it: the processor keys under
// HKEY_LOCAL_MACHINE, the counter names and the performance data.
#include <strings.h>

#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/cpu_facts.h"
#include "platform/linux/cpu_list.h"
#include "platform/linux/perf_data.h"
#include "platform/windows_api.h"

namespace ps {

using namespace linuxLayer;

namespace {

// An opened processor key. The kernel CPU is fixed at open time, so a key
// keeps naming the same processor.
struct processorKey {
  int cpu;
};

std::mutex keysMutex;
std::set<processorKey*> openKeys;

bool openKeyCpu(HKEY key, int* cpu) {
  std::lock_guard<std::mutex> lock(keysMutex);
  const auto found = openKeys.find(reinterpret_cast<processorKey*>(key));
  if (found == openKeys.end()) return false;
  *cpu = (*found)->cpu;
  return true;
}

// Registry names are matched as ASCII; longer or non-ASCII text names
// nothing this layer has.
bool narrowName(LPCWSTR wide, std::string* out) {
  out->clear();
  if (wide == nullptr) return true;
  for (size_t i = 0; wide[i] != 0; ++i) {
    if (wide[i] > 0x7F || i >= 4096) return false;
    *out += static_cast<char>(wide[i]);
  }
  return true;
}

// "Hardware\Description\System\CentralProcessor\<n>", any case, n in plain
// decimal as Windows names the keys.
bool parseProcessorKey(const std::string& path, int* number) {
  static const char kPrefix[] = "Hardware\\Description\\System\\CentralProcessor\\";
  const size_t prefixLength = sizeof(kPrefix) - 1;
  if (path.size() <= prefixLength || strncasecmp(path.c_str(), kPrefix, prefixLength) != 0)
    return false;
  const std::string digits = path.substr(prefixLength);
  if (digits.size() > 6 || (digits.size() > 1 && digits[0] == '0')) return false;
  int value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  *number = value;
  return true;
}

// The Windows rules for handing out a value: size query without a buffer,
// ERROR_MORE_DATA (with the size needed) when the buffer is too small.
LSTATUS deliverValue(DWORD valueType, const void* value, size_t size, DWORD* type, BYTE* data,
                     DWORD* dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (type != nullptr) *type = valueType;
  const DWORD needed = static_cast<DWORD>(size);
  if (data == nullptr) {
    if (dataSize != nullptr) *dataSize = needed;
    return ERROR_SUCCESS;
  }
  if (*dataSize < needed) {
    *dataSize = needed;
    return ERROR_MORE_DATA;
  }
  if (size > 0) std::memcpy(data, value, size);
  *dataSize = needed;
  return ERROR_SUCCESS;
}

LSTATUS queryValue(HKEY key, const std::string& name, bool wide, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;

  if (key == HKEY_PERFORMANCE_TEXT) {
    if (strcasecmp(name.c_str(), "Counter") != 0) return ERROR_FILE_NOT_FOUND;
    std::vector<BYTE> table = counterNameTable();
    if (!wide) {
      // The ANSI form of the same strings: one byte per character.
      std::vector<BYTE> narrow;
      for (size_t i = 0; i < table.size(); i += 2) narrow.push_back(table[i]);
      table.swap(narrow);
    }
    return deliverValue(REG_MULTI_SZ, table.data(), table.size(), type, data, dataSize);
  }

  if (key == HKEY_PERFORMANCE_DATA) {
    const std::vector<BYTE> block = performanceDataBlock(name);
    return deliverValue(REG_BINARY, block.data(), block.size(), type, data, dataSize);
  }

  int cpu = 0;
  if (!openKeyCpu(key, &cpu)) return ERROR_INVALID_HANDLE;
  cpuinfoFile cpuinfo;
  readCpuinfo(&cpuinfo);

  if (strcasecmp(name.c_str(), "ProcessorNameString") == 0) {
    std::string text;
    if (!processorName(cpuinfo, cpu, &text)) return ERROR_FILE_NOT_FOUND;
    if (!wide) return deliverValue(REG_SZ, text.c_str(), text.size() + 1, type, data, dataSize);
    const std::u16string utf16 = utf16FromUtf8(text);
    return deliverValue(REG_SZ, utf16.c_str(), (utf16.size() + 1) * sizeof(char16_t), type, data,
                        dataSize);
  }
  if (strcasecmp(name.c_str(), "~MHz") == 0) {
    const int mhz = nominalMhz(cpuinfo, cpu);
    if (mhz <= 0) return ERROR_FILE_NOT_FOUND;
    const DWORD value = static_cast<DWORD>(mhz);
    return deliverValue(REG_DWORD, &value, sizeof(value), type, data, dataSize);
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (key != HKEY_LOCAL_MACHINE) return key == nullptr ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
  std::string path;
  int number = 0;
  if (!narrowName(subKey, &path) || !parseProcessorKey(path, &number)) return ERROR_FILE_NOT_FOUND;
  const processorList list = readProcessorList();
  if (number >= list.count()) return ERROR_FILE_NOT_FOUND;
  processorKey* opened = new (std::nothrow) processorKey{list.cpus[number]};
  if (opened == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  {
    std::lock_guard<std::mutex> lock(keysMutex);
    openKeys.insert(opened);
  }
  *result = reinterpret_cast<HKEY>(opened);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
  std::string name;
  if (!narrowName(valueName, &name)) return ERROR_FILE_NOT_FOUND;
  return queryValue(key, name, true, reserved, type, data, dataSize);
}

LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
  return queryValue(key, valueName != nullptr ? valueName : "", false, reserved, type, data,
                    dataSize);
}

LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_PERFORMANCE_DATA || key == HKEY_PERFORMANCE_TEXT)
    return ERROR_SUCCESS;
  processorKey* opened = reinterpret_cast<processorKey*>(key);
  {
    std::lock_guard<std::mutex> lock(keysMutex);
    if (openKeys.erase(opened) == 0) return ERROR_INVALID_HANDLE;
  }
  delete opened;
  return ERROR_SUCCESS;
}

}  // namespace ps
