// The walk over the structures of an SMBIOS table, shared by the Linux
// firmware call and the machine's reader: each structure is a formatted area
// of Length bytes followed by a string set that ends in two zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ps {

constexpr uint8_t smbiosProcessorType = 4;
constexpr uint8_t smbiosMemoryDeviceType = 17;
constexpr uint8_t smbiosEndOfTableType = 127;

inline uint16_t smbiosWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t smbiosDword(const uint8_t* p) {
  return static_cast<uint32_t>(smbiosWord(p)) | static_cast<uint32_t>(smbiosWord(p + 2)) << 16;
}

struct _smbiosStructure {
  uint8_t type;
  uint8_t length;
  const uint8_t* data;  // the formatted area, `length` bytes
};

enum class _smbiosWalkEnd { endOfTable, endOfData, stopped, broken };

// Calls visit(structure) for every structure before the end-of-table one;
// visit returns false to stop the walk. Never reads outside
// [table, table + size). A formatted area that does not fit is a broken
// table; a last string set cut off before its two zero bytes ends the walk
// at the end of the data, with what was read kept.
template <class F>
_smbiosWalkEnd walkSmbios(const uint8_t* table, size_t size, F visit) {
  size_t p = 0;
  while (p < size) {
    if (size - p < 2) return _smbiosWalkEnd::broken;
    const _smbiosStructure structure{table[p], table[p + 1], table + p};
    if (structure.length < 4 || structure.length > size - p) return _smbiosWalkEnd::broken;
    if (structure.type == smbiosEndOfTableType) return _smbiosWalkEnd::endOfTable;
    if (!visit(structure)) return _smbiosWalkEnd::stopped;
    size_t q = p + structure.length;
    while (q + 1 < size && !(table[q] == 0 && table[q + 1] == 0)) ++q;
    if (q + 1 >= size) return _smbiosWalkEnd::endOfData;
    p = q + 2;
  }
  return _smbiosWalkEnd::endOfData;
}

}  // namespace ps
