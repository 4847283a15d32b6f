#include "platform/linux/firmware.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/linux/system_root.h"

namespace ps {

namespace linuxLayer {

namespace {

const char kDmiPath[] = "sys/firmware/dmi/tables/DMI";
const char kEntryPointPath[] = "sys/firmware/dmi/tables/smbios_entry_point";

unsigned readWord(const std::string& data, size_t offset) {
  return static_cast<unsigned char>(data[offset]) |
         static_cast<unsigned>(static_cast<unsigned char>(data[offset + 1])) << 8;
}

unsigned long readDword(const std::string& data, size_t offset) {
  return readWord(data, offset) | static_cast<unsigned long>(readWord(data, offset + 2)) << 16;
}

// The size one Memory Device reports, in KiB (0 for an empty or unknown slot).
ULONGLONG deviceSizeKiB(const std::string& table, size_t start, unsigned length) {
  if (length < 0x0E) return 0;
  const unsigned size = readWord(table, start + 0x0C);
  if (size == 0 || size == 0xFFFF) return 0;
  if (size == 0x7FFF && length >= 0x20)
    return static_cast<ULONGLONG>(readDword(table, start + 0x1C) & 0x7FFFFFFFul) * 1024;
  if (size & 0x8000) return size & 0x7FFF;
  return static_cast<ULONGLONG>(size) * 1024;
}

}  // namespace

bool parseEntryPoint(const std::string& entryPoint, smbiosVersion* version) {
  const auto byteAt = [&](size_t i) { return static_cast<BYTE>(entryPoint[i]); };
  if (entryPoint.size() >= 10 && entryPoint.compare(0, 5, "_SM3_") == 0) {
    *version = {byteAt(7), byteAt(8), byteAt(9)};
    return true;
  }
  if (entryPoint.size() >= 8 && entryPoint.compare(0, 4, "_SM_") == 0) {
    *version = {byteAt(6), byteAt(7), 0};
    return true;
  }
  if (entryPoint.size() >= 15 && entryPoint.compare(0, 5, "_DMI_") == 0) {
    // Legacy entry point: the version is one BCD byte.
    const BYTE bcd = byteAt(14);
    *version = {static_cast<BYTE>(bcd >> 4), static_cast<BYTE>(bcd & 0x0F), 0};
    return true;
  }
  return false;
}

bool installedMemoryKiB(const std::string& table, ULONGLONG* kib) {
  ULONGLONG total = 0;
  size_t p = 0;
  while (p + 4 <= table.size()) {
    const unsigned type = static_cast<unsigned char>(table[p]);
    const unsigned length = static_cast<unsigned char>(table[p + 1]);
    if (length < 4 || p + length > table.size()) break;
    if (type == 127) break;
    if (type == 17) total += deviceSizeKiB(table, p, length);
    // The string set ends with two zero bytes; without them the table is cut.
    size_t q = p + length;
    while (q + 1 < table.size() && (table[q] != 0 || table[q + 1] != 0)) ++q;
    if (q + 1 >= table.size()) break;
    p = q + 2;
  }
  if (total == 0) return false;
  *kib = total;
  return true;
}

}  // namespace linuxLayer

using namespace linuxLayer;

UINT GetSystemFirmwareTable(DWORD providerSignature, DWORD, LPVOID buffer, DWORD bufferSize) {
  if (providerSignature != RSMB_PROVIDER) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string table;
  const int error = readSystemFile(kDmiPath, kDmiCap, &table);
  if (error != 0) {
    SetLastError(errorFromErrno(error));
    return 0;
  }
  // Without the entry point the version is unknown, and the table cannot be
  // handed over in the Windows form.
  std::string entryPoint;
  smbiosVersion version{};
  const int entryError = readSystemFile(kEntryPointPath, kSmallFileCap, &entryPoint);
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
  header.DmiRevision = version.docRevision;
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
  if (readSystemFile(kDmiPath, kDmiCap, &table) == 0 && installedMemoryKiB(table, &kib)) {
    *totalMemoryInKilobytes = kib;
    return TRUE;
  }
  // The DMI table is readable by root only on most systems; the kernel's
  // MemTotal (a little below the installed size) is the next best figure.
  std::string meminfo;
  const int error = readSystemFile("proc/meminfo", kSmallFileCap, &meminfo);
  if (error != 0) {
    SetLastError(errorFromErrno(error));
    return FALSE;
  }
  std::string value;
  unsigned long long total = 0;
  if (lineValue(meminfo, "MemTotal:", &value)) {
    value = trimmed(value);
    if (value.size() > 2 && value.compare(value.size() - 2, 2, "kB") == 0) value.resize(value.size() - 2);
    if (parseUnsigned(value, ~0ull >> 11, &total) && total > 0) {
      *totalMemoryInKilobytes = total;
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_DATA);
  return FALSE;
}

}  // namespace ps
