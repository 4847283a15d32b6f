#include "machine/smbios.h"

#include "recorded_machine.h"

namespace ps {
namespace {

typedef std::vector<uint8_t> _bytes;

const char* const broken = "DMI table is broken";
const char* const memoryVersion = "Wrong MemoryDeviceInformation version";

// The firmware call's buffer: the 8-byte header, then the structures.
_bytes rawTable(uint8_t major, uint8_t minor, std::initializer_list<_bytes> structures, int64_t declared = -1) {
  _bytes raw = {0, major, minor, 0, 0, 0, 0, 0};
  for (const _bytes& s : structures) raw.insert(raw.end(), s.begin(), s.end());
  const uint32_t length = declared < 0 ? (uint32_t)(raw.size() - 8) : (uint32_t)declared;
  memcpy(&raw[4], &length, 4);
  return raw;
}

// A formatted area of Length bytes, speeds at 14h and 16h when it reaches them, then its string set.
_bytes structure(uint8_t type, uint8_t length, uint16_t maxMhz = 0, uint16_t currentMhz = 0, const char* strings = "") {
  _bytes s(0x18, 0x11);
  s[0] = type;
  s[1] = length;
  const uint16_t speeds[2] = {maxMhz, currentMhz};
  memcpy(&s[0x14], speeds, 4);
  s.resize(length < 4 ? 4 : length, 0x11);
  s.insert(s.end(), strings, strings + strlen(strings) + 1);
  s.push_back(0);
  return s;
}

_bytes withoutEnd(_bytes s) {
  s.resize(s.size() - 2);
  return s;
}

// Parses an exact heap copy, so the address sanitizer sees any overread; no bytes: through the firmware call.
void check(const _bytes& raw, const char* error, uint16_t maxMhz, uint16_t currentMhz) {
  const _bytes exact(raw);
  const _smbiosInfo r = raw.empty() ? readSmbios() : parseRawSmbios(exact.data(), exact.size());
  EXPECT_STREQ(error, r.errorText.text);
  EXPECT_EQ(error[0] == 0, r.valid);
  EXPECT_EQ(std::make_pair(maxMhz, currentMhz), std::make_pair(r.cpuMaxMHz, r.cpuCurrentMHz));
}

TEST(SmbiosWalk, SyntheticTables) {
  const _bytes end = structure(127, 4);
  const std::tuple<_bytes, const char*, uint16_t, uint16_t> cases[] = {
      {rawTable(2, 7, {structure(4, 42, 4200, 3000, "CPU1"), structure(17, 34), end}), "", 4200, 3000},
      // The last processor wins; a Length of 0 after the end would be broken if it were read.
      {rawTable(3, 2, {structure(4, 48, 4000, 2400), structure(4, 48, 4000), end, {0, 0, 0, 0}}), "", 4000, 0},
      // Structures without strings are stepped over by L + 2.
      {rawTable(3, 0, {structure(7, 19, 0, 0, "L1"), structure(17, 40), structure(4, 48, 3400, 2871)}), "", 3400, 2871},
      {rawTable(2, 6, {structure(4, 48, 1600, 1600), structure(17, 34), structure(4, 48, 9999, 9999)}), memoryVersion,
       1600, 1600},
      {rawTable(2, 7, {structure(17, 33)}), memoryVersion, 0, 0},
      {rawTable(2, 0, {structure(4, 26, 3000, 2000)}), "", 3000, 2000},
      {rawTable(2, 0, {structure(4, 25, 3000, 2000)}), "Wrong ProcessorInformation version", 0, 0},
      {rawTable(2, 7, {structure(3, 3)}), broken, 0, 0},
      {rawTable(3, 0, {structure(4, 48, 3000, 2000)}, 20), broken, 0, 0},  // the header's Length cuts the processor
      // The last string set lacks its closing zero bytes: the speeds stay.
      {rawTable(3, 0, {withoutEnd(structure(4, 48, 3300, 2200, "CPU1"))}), "", 3300, 2200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::apply(check, c);
  }
  // Every cut of a table claimed whole: broken within a formatted area, else the walk ends with what was read.
  const _bytes whole = rawTable(3, 0, {structure(4, 48, 3000, 2000, "P0"), structure(17, 40, 0, 0, "DIMM")});
  for (size_t size = 1; size <= whole.size(); ++size) {
    SCOPED_TRACE(size);
    const bool valid = size == 8 || (size >= 56 && size <= 60) || size >= 100;
    check(_bytes(whole.begin(), whole.begin() + size), valid ? "" : broken, size < 56 ? 0 : 3000, size < 56 ? 0 : 2000);
  }
}

TEST(SmbiosWalk, RecordedTables) {
  for (const auto& c : testSupport::dataCases("machine/recorded_tables.txt")) {
    SCOPED_TRACE(c.fields[0]);
    const testSupport::_recordedRoot root(nullptr, c.fields[0].c_str());
    const std::string file = testSupport::fileBytes(testSupport::smbiosDir(c.fields[0]) + "/DMI");
    ASSERT_GT(file.size(), 1000u);
    const uint8_t major = uint8_t(c.fields[2][0] - '0'), minor = uint8_t(c.fields[2][2] - '0');
    check(major ? rawTable(major, minor, {_bytes(file.begin(), file.end())}) : _bytes(), c.fields[1].c_str(),
          (uint16_t)std::stoi(c.fields[3]), (uint16_t)std::stoi(c.fields[4]));
  }
}

}  // namespace
}  // namespace ps
