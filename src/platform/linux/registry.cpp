// The registry as the program reads it: the processor keys under
// HKEY_LOCAL_MACHINE, the counter names and the performance data.
#include <strings.h>

#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/perf_data.h"
#include "platform/linux/snapshot.h"
#include "platform/linux/system_root.h"
#include "platform/linux/utf16.h"
#include "platform/windows_api.h"

namespace ps {

using namespace linuxLayer;

namespace {

// An opened processor key holds its values: a key keeps naming the same
// processor.
struct _processorKey {
  std::string name;  // empty when there is none
  int mhz;           // -1 when there is none
};

std::mutex keysMutex;
std::set<_processorKey*> openKeys;

bool openKeyValues(HKEY key, _processorKey* values) {
  std::lock_guard<std::mutex> lock(keysMutex);
  const auto found = openKeys.find(reinterpret_cast<_processorKey*>(key));
  if (found == openKeys.end()) return false;
  *values = **found;
  return true;
}

// "Hardware\Description\System\CentralProcessor\<n>", any case, n in plain
// decimal as Windows names the keys.
bool parseProcessorKey(const std::string& path, int* number) {
  static const char keyPrefix[] = "Hardware\\Description\\System\\CentralProcessor\\";
  const size_t prefixLength = sizeof(keyPrefix) - 1;
  unsigned long long value = 0;
  if (path.size() < prefixLength || strncasecmp(path.c_str(), keyPrefix, prefixLength) != 0 ||
      !parseCanonicalNumber(path.substr(prefixLength), 999999, &value))
    return false;
  *number = static_cast<int>(value);
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

// A string value, `text` with its terminators: the bytes as they are for the
// ANSI call, UTF-16 for the wide one.
LSTATUS deliverText(DWORD valueType, const std::string& text, bool wide, DWORD* type, BYTE* data,
                    DWORD* dataSize) {
  if (!wide) return deliverValue(valueType, text.data(), text.size(), type, data, dataSize);
  const std::u16string utf16 = utf16FromUtf8(text);
  return deliverValue(valueType, utf16.data(), utf16.size() * sizeof(char16_t), type, data,
                      dataSize);
}

LSTATUS queryValue(HKEY key, const std::string& name, bool wide, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;

  if (key == HKEY_PERFORMANCE_TEXT) {
    if (strcasecmp(name.c_str(), "Counter") != 0) return ERROR_FILE_NOT_FOUND;
    return deliverText(REG_MULTI_SZ, counterNameTable(), wide, type, data, dataSize);
  }

  if (key == HKEY_PERFORMANCE_DATA) {
    const std::vector<BYTE> block = performanceDataBlock(name);
    return deliverValue(REG_BINARY, block.data(), block.size(), type, data, dataSize);
  }

  _processorKey values;
  if (!openKeyValues(key, &values)) return ERROR_INVALID_HANDLE;
  if (strcasecmp(name.c_str(), "ProcessorNameString") == 0) {
    if (values.name.empty()) return ERROR_FILE_NOT_FOUND;
    return deliverText(REG_SZ, values.name + '\0', wide, type, data, dataSize);
  }
  if (strcasecmp(name.c_str(), "~MHz") != 0 || values.mhz <= 0) return ERROR_FILE_NOT_FOUND;
  const DWORD value = static_cast<DWORD>(values.mhz);
  return deliverValue(REG_DWORD, &value, sizeof(value), type, data, dataSize);
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (key != HKEY_LOCAL_MACHINE) return key == nullptr ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
  // Registry names are matched as ASCII; anything else names nothing here.
  std::string path;
  int number = 0;
  if (!asciiFromUtf16(subKey, 4096, &path) || !parseProcessorKey(path, &number))
    return ERROR_FILE_NOT_FOUND;
  const auto snapshot = processorSnapshot();
  if (number >= snapshot->list.count()) return ERROR_FILE_NOT_FOUND;
  _processorKey* opened = new (std::nothrow) _processorKey{snapshot->names[number], snapshot->rated[number].mhz};
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
  if (!asciiFromUtf16(valueName, 4096, &name)) return ERROR_FILE_NOT_FOUND;
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
  _processorKey* opened = reinterpret_cast<_processorKey*>(key);
  {
    std::lock_guard<std::mutex> lock(keysMutex);
    if (openKeys.erase(opened) == 0) return ERROR_INVALID_HANDLE;
  }
  delete opened;
  return ERROR_SUCCESS;
}

}  // namespace ps
