#include "machine/smbios.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recorded_root.h"

namespace ps {
namespace {

typedef std::vector<uint8_t> Bytes;

const char* const broken = "DMI table is broken";
const char* const memoryVersion = "Wrong MemoryDeviceInformation version";

// The firmware call's buffer: the 8-byte header, then the structures.
Bytes rawTable(uint8_t major, uint8_t minor, std::initializer_list<Bytes> structures, int64_t declared = -1) {
  Bytes raw = {0, major, minor, 0, 0, 0, 0, 0};
  for (const Bytes& s : structures) raw.insert(raw.end(), s.begin(), s.end());
  const uint32_t length = declared < 0 ? (uint32_t)(raw.size() - 8) : (uint32_t)declared;
  memcpy(&raw[4], &length, 4);
  return raw;
}

// A formatted area of the given Length byte, with the processor speeds at 14h
// and 16h when it reaches them, then its string set (two zero bytes when empty).
Bytes structure(uint8_t type, uint8_t length, const char* strings = nullptr, uint16_t maxMhz = 0,
                uint16_t currentMhz = 0) {
  Bytes s(length < 4 ? 4 : length, 0x11);
  s[0] = type;
  s[1] = length;
  const uint16_t speeds[2] = {maxMhz, currentMhz};
  if (s.size() >= 0x18) memcpy(&s[0x14], speeds, 4);
  if (strings) s.insert(s.end(), strings, strings + strlen(strings) + 1);
  s.push_back(0);
  if (!strings) s.push_back(0);
  return s;
}

Bytes processor(uint16_t maxMhz, uint16_t currentMhz, uint8_t length = 48, const char* strings = nullptr) {
  return structure(4, length, strings, maxMhz, currentMhz);
}

struct Expected {
  const char* error;
  uint16_t maxMhz, currentMhz;
};

// Parses an exactly sized heap copy, so that the address sanitizer sees any
// overread; no bytes at all: reads through the firmware call.
void check(const Expected& e, const Bytes& raw) {
  const Bytes exact(raw);
  _smbiosInfo r = raw.empty() ? readSmbios() : parseRawSmbios(exact.data(), exact.size());
  EXPECT_STREQ(e.error, r.errorText.text);
  EXPECT_EQ(e.error[0] == 0, r.valid);
  EXPECT_EQ(e.maxMhz, r.cpuMaxMHz);
  EXPECT_EQ(e.currentMhz, r.cpuCurrentMHz);
}

TEST(SmbiosWalk, SyntheticTables) {
  const Bytes end = structure(127, 4);
  const Bytes dimm = structure(17, 40, "DIMM");
  Bytes whole = processor(3000, 2000, 48, "P0");
  whole.insert(whole.end(), dimm.begin(), dimm.end());
  const struct {
    Bytes raw;
    Expected expected;
  } cases[] = {
      {rawTable(3, 0, {}), {"", 0, 0}},
      {rawTable(2, 7, {processor(4200, 3000, 42, "CPU1\0Intel"), end}), {"", 4200, 3000}},
      // The last processor wins; a Length of 0 after the end would be broken if it were read.
      {rawTable(3, 2, {processor(4000, 2400), processor(4000, 0), end, {0, 0, 0, 0}}), {"", 4000, 0}},
      // Structures without strings are stepped over by L + 2.
      {rawTable(3, 0, {structure(1, 27), structure(7, 19, "L1"), processor(3400, 2871)}), {"", 3400, 2871}},
      {rawTable(2, 6, {processor(1600, 1600), structure(17, 34), processor(9999, 9999)}),
       {memoryVersion, 1600, 1600}},
      {rawTable(2, 7, {structure(17, 33)}), {memoryVersion, 0, 0}},
      {rawTable(2, 7, {structure(17, 34)}), {"", 0, 0}},
      {rawTable(3, 0, {structure(17, 40)}), {"", 0, 0}},
      {rawTable(2, 0, {processor(3000, 2000, 26)}), {"", 3000, 2000}},
      {rawTable(2, 0, {processor(3000, 2000, 25)}), {"Wrong ProcessorInformation version", 0, 0}},
      {rawTable(2, 7, {structure(3, 3)}), {broken, 0, 0}},
      // The header's Length against the bytes present.
      {rawTable(3, 0, {Bytes(whole.begin(), whole.begin() + 60)}, 4000), {broken, 3000, 2000}},
      {rawTable(3, 0, {whole}, UINT32_MAX), {"", 3000, 2000}},
      {rawTable(3, 0, {whole}, 20), {broken, 0, 0}},
      {Bytes{0, 3, 0, 0, 0, 0, 0}, {broken, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    check(c.expected, c.raw);
  }
  // Every cut of a table is valid at the end of a structure and broken anywhere else.
  for (size_t size = 0; size <= whole.size(); ++size) {
    SCOPED_TRACE(size);
    const uint16_t maxMhz = size < 48 ? 0 : 3000, currentMhz = size < 48 ? 0 : 2000;
    check({size == 0 || size == 52 || size == whole.size() ? "" : broken, maxMhz, currentMhz},
          rawTable(3, 0, {Bytes(whole.begin(), whole.begin() + size)}));
  }
}

TEST(SmbiosWalk, RecordedTables) {
  const struct {
    const char* name;
    uint8_t major, minor;  // 0: through the firmware call, with the recorded entry point's version
    Expected expected;
  } cases[] = {
      {"gigabyte-ga-ma74gmt-s2", 0, 0, {memoryVersion, 3200, 2800}},  // 2.4, Memory Device of 27 bytes
      {"lenovo-thinkpad-w510", 0, 0, {memoryVersion, 1600, 1600}},    // 2.6, 28 bytes
      {"supermicro-x9dbl-2s", 0, 0, {"", 4000, 1800}},                // 2.7, two sockets
      {"vmware-vm", 0, 0, {"", 30000, 2400}},                         // 128 processor slots
      {"lenovo-thinkpad-t480", 0, 0, {"", 2100, 1900}},               // 3.0
      {"gigabyte-x399-threadripper", 0, 0, {"", 4200, 3000}},         // 3.1
      {"beelink-eq12-n100", 0, 0, {"", 3400, 2871}},                  // 3.5, no end-of-table
      // Bare tables without an entry point, behind their probable version.
      {"supermicro-h8qg6-4s-opteron", 2, 6, {memoryVersion, 2200, 2200}},  // four sockets
      {"asrock-x570d4u-ryzen", 3, 3, {"", 4950, 3700}},
      {"dell-poweredge-r630-2s", 2, 8, {"", 4000, 0}},  // the second socket is empty
      {"hyperv-vm-malformed", 2, 3, {broken, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordedRoot root(nullptr, c.name);
    std::ifstream file(std::string(PS_TESTDATA_DIR) + "/smbios/" + c.name + "/DMI", std::ios::binary);
    const Bytes dmi((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(dmi.size(), 1000u);
    check(c.expected, c.major ? rawTable(c.major, c.minor, {dmi}) : Bytes());
  }
}

}  // namespace
}  // namespace ps
