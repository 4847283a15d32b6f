#include "machine/smbios.h"

#include "base/error_text.h"
#include "platform/smbios_walk.h"
#include "platform/windows_api.h"

namespace ps {

namespace {

// 'RSMB' as one little-endian value; windows.h has no name for it.
constexpr DWORD rawSmbiosProvider = 0x52534D42;
constexpr size_t rawHeaderSize = 8;

void fail(_smbiosInfo& result, const char* text) {
  result.errorText.assign(text);
  result.valid = false;
}

}  // namespace

// The header's Length may claim more than the buffer holds (a short read, a
// forged table): the walk is limited to the bytes present.
_smbiosInfo parseRawSmbios(const uint8_t* raw, size_t size) {
  _smbiosInfo result;
  if (!raw || size < rawHeaderSize) {
    fail(result, "DMI table is broken");
    return result;
  }
  const uint8_t major = raw[1];
  const uint8_t minor = raw[2];
  size_t end = smbiosDword(raw + 4);
  if (end > size - rawHeaderSize) end = size - rawHeaderSize;

  result.valid = true;
  const _smbiosWalkEnd walkEnd = walkSmbios(raw + rawHeaderSize, end, [&](const _smbiosStructure& s) {
    if (s.type == smbiosProcessorType) {
      if (s.length < 26 || major < 2) {
        fail(result, "Wrong ProcessorInformation version");
        return false;
      }
      result.cpuCurrentMHz = smbiosWord(s.data + 0x16);
      result.cpuMaxMHz = smbiosWord(s.data + 0x14);
    } else if (s.type == smbiosMemoryDeviceType) {
      // A version 2.7 Memory Device has a 34-byte formatted area.
      if (s.length < 34 || major < 2 || (major == 2 && minor < 7)) {
        fail(result, "Wrong MemoryDeviceInformation version");
        return false;
      }
    }
    return true;
  });
  if (walkEnd == _smbiosWalkEnd::broken) fail(result, "DMI table is broken");
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
