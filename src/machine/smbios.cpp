#include "machine/smbios.h"

#include "base/error_text.h"
#include "platform/windows_api.h"

namespace ps {

namespace {

// 'RSMB' as one little-endian value; windows.h has no name for it.
constexpr DWORD rawSmbiosProvider = 0x52534D42;
constexpr size_t rawHeaderSize = 8;
constexpr uint8_t typeProcessor = 4;
constexpr uint8_t typeMemoryDevice = 17;
constexpr uint8_t typeEndOfTable = 127;

uint16_t readWord(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

uint32_t readDword(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void fail(_smbiosInfo& result, const char* text) {
  result.errorText.assign(text);
  result.valid = false;
}

}  // namespace

// The header's Length may claim more than the buffer holds (a short read, a
// forged table): the walk is limited to the bytes present, and a structure
// that does not fit in them ends it as a broken table.
_smbiosInfo parseRawSmbios(const uint8_t* raw, size_t size) {
  _smbiosInfo result;
  if (!raw || size < rawHeaderSize) {
    fail(result, "DMI table is broken");
    return result;
  }
  const uint8_t major = raw[1];
  const uint8_t minor = raw[2];
  size_t end = readDword(raw + 4);
  if (end > size - rawHeaderSize) end = size - rawHeaderSize;
  const uint8_t* table = raw + rawHeaderSize;

  result.valid = true;
  size_t p = 0;
  while (p < end) {
    if (end - p < 2) {
      fail(result, "DMI table is broken");
      break;
    }
    const uint8_t type = table[p];
    const size_t length = table[p + 1];
    if (length < 4 || length > end - p) {
      fail(result, "DMI table is broken");
      break;
    }
    if (type == typeProcessor) {
      if (length < 26 || major < 2) {
        fail(result, "Wrong ProcessorInformation version");
        break;
      }
      result.cpuCurrentMHz = readWord(table + p + 0x16);
      result.cpuMaxMHz = readWord(table + p + 0x14);
    } else if (type == typeMemoryDevice) {
      // A version 2.7 Memory Device has a 34-byte formatted area.
      if (length < 34 || major < 2 || (major == 2 && minor < 7)) {
        fail(result, "Wrong MemoryDeviceInformation version");
        break;
      }
    } else if (type == typeEndOfTable) {
      break;
    }
    // The string set ends with two zero bytes, which must lie inside the table.
    size_t q = p + length;
    while (q + 1 < end && !(table[q] == 0 && table[q + 1] == 0)) ++q;
    if (q + 1 >= end) {
      fail(result, "DMI table is broken");
      break;
    }
    p = q + 2;
  }
  return result;
}

_smbiosInfo readSmbios() {
  _smbiosInfo result;
  const UINT size = GetSystemFirmwareTable(rawSmbiosProvider, 0, nullptr, 0);
  if (size == 0) {
    const uint32_t code = GetLastError();
    result.errorText.assign("GetSystemFirmwareTable - ");
    appendSystemErrorText(result.errorText, code);
    return result;
  }
  HANDLE heap = GetProcessHeap();
  uint8_t* buffer = (uint8_t*)HeapAlloc(heap, 0, size);
  if (!buffer) {
    result.errorText.assign("Out of memory");
    return result;
  }
  const UINT got = GetSystemFirmwareTable(rawSmbiosProvider, 0, buffer, size);
  if (got != size) {
    const uint32_t code = GetLastError();
    HeapFree(heap, 0, buffer);
    result.errorText.assign("GetSystemFirmwareTable - ");
    if (got == 0)
      appendSystemErrorText(result.errorText, code);
    else
      result.errorText.append("Invalid data");
    return result;
  }
  result = parseRawSmbios(buffer, size);
  HeapFree(heap, 0, buffer);
  return result;
}

}  // namespace ps
