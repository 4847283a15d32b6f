#include "platform/linux/firmware.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/linux/system_root.h"
#include "platform/smbios_walk.h"

namespace ps {

namespace linuxLayer {

namespace {

const char dmiPath[] = "sys/firmware/dmi/tables/DMI";
const char entryPointPath[] = "sys/firmware/dmi/tables/smbios_entry_point";

// The size one Memory Device reports, in KiB (0 for an empty or unknown slot).
ULONGLONG deviceSizeKiB(const _smbiosStructure& device) {
  if (device.length < 0x0E) return 0;
  const unsigned size = smbiosWord(device.data + 0x0C);
  if (size == 0 || size == 0xFFFF) return 0;
  if (size == 0x7FFF && device.length >= 0x20)
    return static_cast<ULONGLONG>(smbiosDword(device.data + 0x1C) & 0x7FFFFFFFul) * 1024;
  if (size & 0x8000) return size & 0x7FFF;
  return static_cast<ULONGLONG>(size) * 1024;
}

void countOnlineBlock(const char* name, void* context) {
  unsigned long long number = 0;
  if (std::strncmp(name, "memory", 6) != 0 || !parseCanonicalNumber(name + 6, ~0u, &number)) return;
  std::string state;
  const std::string path = std::string("sys/devices/system/memory/") + name + "/state";
  if (readSystemFile(path.c_str(), smallFileCap, &state) == 0 && trimmed(state) == "online")
    ++*static_cast<ULONGLONG*>(context);
}

}  // namespace

bool parseEntryPoint(const std::string& entryPoint, _smbiosVersion* version) {
  const auto byteAt = [&](size_t i) { return static_cast<BYTE>(entryPoint[i]); };
  if (entryPoint.size() >= 10 && entryPoint.compare(0, 5, "_SM3_") == 0) {
    *version = {byteAt(7), byteAt(8)};
    return true;
  }
  if (entryPoint.size() >= 8 && entryPoint.compare(0, 4, "_SM_") == 0) {
    *version = {byteAt(6), byteAt(7)};
    return true;
  }
  if (entryPoint.size() >= 15 && entryPoint.compare(0, 5, "_DMI_") == 0) {
    // Legacy entry point: the version is one BCD byte.
    const BYTE bcd = byteAt(14);
    *version = {static_cast<BYTE>(bcd >> 4), static_cast<BYTE>(bcd & 0x0F)};
    return true;
  }
  return false;
}

bool installedMemoryKiB(const std::string& table, ULONGLONG* kib) {
  ULONGLONG total = 0;
  walkSmbios(reinterpret_cast<const uint8_t*>(table.data()), table.size(), [&](const _smbiosStructure& s) {
    if (s.type == smbiosMemoryDeviceType) total += deviceSizeKiB(s);
    return true;
  });
  if (total == 0) return false;
  *kib = total;
  return true;
}

int onlineMemoryKiB(ULONGLONG* kib) {
  // The block size is hexadecimal, without a prefix.
  std::string text;
  const int error = readSystemFile("sys/devices/system/memory/block_size_bytes", smallFileCap, &text);
  if (error != 0) return error;
  text = trimmed(text);
  ULONGLONG blockBytes = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0 || blockBytes > (~0ull >> 4)) return EINVAL;
    blockBytes = blockBytes * 16 + static_cast<ULONGLONG>(digit);
  }
  ULONGLONG blocks = 0;
  const int listError = listSystemDirectory("sys/devices/system/memory", countOnlineBlock, &blocks);
  if (listError != 0) return listError;
  const ULONGLONG blockKiB = blockBytes / 1024;
  if (text.empty() || blockKiB == 0 || blocks == 0 || blocks > ~0ull / blockKiB) return EINVAL;
  *kib = blocks * blockKiB;
  return 0;
}

}  // namespace linuxLayer

using namespace linuxLayer;

UINT GetSystemFirmwareTable(DWORD providerSignature, DWORD, LPVOID buffer, DWORD bufferSize) {
  if (providerSignature != RSMB_PROVIDER) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string table;
  const int error = readSystemFile(dmiPath, dmiCap, &table);
  if (error != 0) {
    SetLastError(errorFromErrno(error));
    return 0;
  }
  // Without the entry point the version is unknown, and the table cannot be
  // handed over in the Windows form.
  std::string entryPoint;
  _smbiosVersion version{};
  const int entryError = readSystemFile(entryPointPath, smallFileCap, &entryPoint);
  if (entryError != 0 || !parseEntryPoint(entryPoint, &version)) {
    SetLastError(entryError == EACCES || entryError == EPERM ? ERROR_ACCESS_DENIED
                                                            : ERROR_INVALID_DATA);
    return 0;
  }

  const DWORD needed = static_cast<DWORD>(offsetof(RawSMBIOSData, SMBIOSTableData) + table.size());
  if (buffer == nullptr || bufferSize < needed) {
    if (buffer != nullptr) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return needed;
  }
  RawSMBIOSData header{};
  header.SMBIOSMajorVersion = version.major;
  header.SMBIOSMinorVersion = version.minor;
  header.Length = static_cast<DWORD>(table.size());
  BYTE* out = static_cast<BYTE*>(buffer);
  std::memcpy(out, &header, offsetof(RawSMBIOSData, SMBIOSTableData));
  std::memcpy(out + offsetof(RawSMBIOSData, SMBIOSTableData), table.data(), table.size());
  return needed;
}

BOOL GetPhysicallyInstalledSystemMemory(ULONGLONG* totalMemoryInKilobytes) {
  if (totalMemoryInKilobytes == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string table;
  ULONGLONG kib = 0;
  if (readSystemFile(dmiPath, dmiCap, &table) == 0 && installedMemoryKiB(table, &kib)) {
    *totalMemoryInKilobytes = kib;
    return TRUE;
  }
  // The DMI table is readable by root only on most systems; the online
  // memory blocks are the next best figure. MemTotal is not: it lacks what
  // the firmware and the kernel keep for themselves.
  const int error = onlineMemoryKiB(&kib);
  if (error != 0) {
    SetLastError(errorFromErrno(error));
    return FALSE;
  }
  *totalMemoryInKilobytes = kib;
  return TRUE;
}

}  // namespace ps
