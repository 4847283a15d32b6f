#include "machine/smbios.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "recorded_root.h"

namespace ps {
namespace {

typedef std::vector<uint8_t> Bytes;

// A raw firmware buffer: the 8-byte header, then the structures.
Bytes rawTable(uint8_t major, uint8_t minor, const Bytes& structures, long declaredLength = -1) {
  uint32_t length = declaredLength < 0 ? (uint32_t)structures.size() : (uint32_t)declaredLength;
  Bytes raw = {0, major, minor, 0, (uint8_t)length, (uint8_t)(length >> 8), (uint8_t)(length >> 16),
               (uint8_t)(length >> 24)};
  raw.insert(raw.end(), structures.begin(), structures.end());
  return raw;
}

// One structure: formatted area of the given length, then its string set
// (or the two zero bytes of an empty one).
Bytes structure(uint8_t type, uint8_t length, const char* strings = nullptr) {
  Bytes s(length, 0x11);
  s[0] = type;
  s[1] = length;
  s[2] = 0x34;
  s[3] = 0x12;
  if (strings) {
    s.insert(s.end(), strings, strings + strlen(strings) + 1);
    s.push_back(0);
  } else {
    s.push_back(0);
    s.push_back(0);
  }
  return s;
}

Bytes processor(uint16_t maxMhz, uint16_t currentMhz, uint8_t length = 48, const char* strings = nullptr) {
  Bytes s = structure(4, length, strings);
  s[0x14] = (uint8_t)maxMhz;
  s[0x15] = (uint8_t)(maxMhz >> 8);
  s[0x16] = (uint8_t)currentMhz;
  s[0x17] = (uint8_t)(currentMhz >> 8);
  return s;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

_smbiosInfo parse(const Bytes& raw) { return parseRawSmbios(raw.data(), raw.size()); }

const Bytes endOfTable = structure(127, 4);

TEST(SmbiosWalk, Results) {
  Bytes tail = {0, 0, 0, 0};
  struct Case {
    const char* what;
    Bytes raw;
    const char* error;
    uint16_t maxMhz, currentMhz;
  } cases[] = {
      {"empty table", rawTable(3, 0, {}), "", 0, 0},
      {"processor and end", rawTable(2, 7, join({processor(4200, 3000, 42, "CPU1\0Intel"), endOfTable})), "", 4200,
       3000},
      {"last processor wins, nothing read after the end",
       rawTable(3, 2, join({processor(4000, 2400), processor(4000, 0, 42, "CPU2"), endOfTable, tail})), "", 4000, 0},
      // Misreading an empty string set would miss the processor.
      {"no strings: stepped over by L + 2",
       rawTable(3, 0, join({structure(1, 27), structure(7, 19, "L1"), processor(3400, 2871)})), "", 3400, 2871},
      {"a fault keeps earlier values",
       rawTable(2, 6, join({processor(1600, 1600), structure(17, 34), processor(9999, 9999)})),
       "Wrong MemoryDeviceInformation version", 1600, 1600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    _smbiosInfo r = parse(c.raw);
    EXPECT_STREQ(c.error, r.errorText.text);
    EXPECT_EQ(c.error[0] == 0, r.valid);
    EXPECT_EQ(c.maxMhz, r.cpuMaxMHz);
    EXPECT_EQ(c.currentMhz, r.cpuCurrentMHz);
  }
}

TEST(SmbiosWalk, VersionChecks) {
  struct Case {
    uint8_t major, minor, type, length;
    const char* error;
  } cases[] = {
      {2, 6, 17, 34, "Wrong MemoryDeviceInformation version"},
      {2, 7, 17, 33, "Wrong MemoryDeviceInformation version"},
      {1, 9, 17, 40, "Wrong MemoryDeviceInformation version"},
      {2, 7, 17, 34, ""},
      {2, 8, 17, 40, ""},
      {3, 0, 17, 34, ""},
      {3, 5, 17, 92, ""},
      {2, 0, 4, 25, "Wrong ProcessorInformation version"},
      {1, 0, 4, 26, "Wrong ProcessorInformation version"},
      {2, 0, 4, 26, ""},
      {2, 7, 3, 3, "DMI table is broken"},
      {3, 0, 200, 0, "DMI table is broken"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (int)c.major << "." << (int)c.minor << " type " << (int)c.type
                                    << " length " << (int)c.length);
    Bytes s = structure(c.type, c.length < 4 ? 4 : c.length);
    s[1] = c.length;
    _smbiosInfo r = parse(rawTable(c.major, c.minor, join({s, endOfTable})));
    EXPECT_STREQ(c.error, r.errorText.text);
    EXPECT_EQ(c.error[0] == 0, r.valid);
  }
}

TEST(SmbiosWalk, NeverReadsPastTheBytesPresent) {
  Bytes whole = join({processor(3000, 2000, 48, "P0"), structure(17, 40, "DIMM")});
  struct Case {
    const char* what;
    Bytes raw;
    bool valid;
    uint16_t maxMhz;
  } cases[] = {
      {"string set without its end", rawTable(3, 0, Bytes(whole.begin(), whole.end() - 1)), false, 3000},
      {"formatted area cut", rawTable(3, 0, Bytes(whole.begin(), whole.begin() + 60)), false, 3000},
      {"only a type byte left", rawTable(3, 0, join({processor(3000, 2000), Bytes{17}})), false, 3000},
      {"Length beyond the buffer, cut structure", rawTable(3, 0, Bytes(whole.begin(), whole.begin() + 60), 4000),
       false, 3000},
      {"Length beyond the buffer, whole structures", rawTable(3, 0, whole, 0xFFFFFFFFL), true, 3000},
      {"Length shorter than the buffer", rawTable(3, 0, whole, 20), false, 0},
      {"no whole header", Bytes{0, 3, 0, 0, 0, 0, 0}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // An exactly sized heap copy lets the address sanitizer see any overread.
    std::vector<uint8_t> exact(c.raw);
    _smbiosInfo r = parseRawSmbios(exact.data(), exact.size());
    EXPECT_EQ(c.valid, r.valid);
    EXPECT_STREQ(c.valid ? "" : "DMI table is broken", r.errorText.text);
    EXPECT_EQ(c.maxMhz, r.cpuMaxMHz);
  }
}

// Real tables: the bare DMI bytes behind a header with the entry point's
// version, or an assumed one where the source kept no entry point.
Bytes recordedTable(const std::string& name, uint8_t assumedMajor, uint8_t assumedMinor) {
  std::string dir = std::string(PS_TESTDATA_DIR) + "/smbios/" + name;
  Bytes dmi, entry;
  for (auto [path, out] : {std::pair<std::string, Bytes*>{dir + "/DMI", &dmi}, {dir + "/smbios_entry_point", &entry}}) {
    if (FILE* f = fopen(path.c_str(), "rb")) {
      int c;
      while ((c = fgetc(f)) != EOF) out->push_back((uint8_t)c);
      fclose(f);
    }
  }
  uint8_t major = assumedMajor, minor = assumedMinor;
  if (entry.size() >= 24 && memcmp(entry.data(), "_SM3_", 5) == 0) {
    major = entry[7];
    minor = entry[8];
  } else if (entry.size() >= 31 && memcmp(entry.data(), "_SM_", 4) == 0) {
    major = entry[6];
    minor = entry[7];
  }
  return rawTable(major, minor, dmi);
}

TEST(SmbiosWalk, RecordedTables) {
  struct Case {
    const char* name;
    uint8_t assumedMajor, assumedMinor;
    const char* error;
    uint16_t maxMhz, currentMhz;
  } cases[] = {
      {"gigabyte-ga-ma74gmt-s2", 0, 0, "Wrong MemoryDeviceInformation version", 3200, 2800},
      {"lenovo-thinkpad-w510", 0, 0, "Wrong MemoryDeviceInformation version", 1600, 1600},
      {"supermicro-h8qg6-4s-opteron", 2, 6, "Wrong MemoryDeviceInformation version", 2200, 2200},
      {"supermicro-x9dbl-2s", 0, 0, "", 4000, 1800},
      {"vmware-vm", 0, 0, "", 30000, 2400},
      {"lenovo-thinkpad-t480", 0, 0, "", 2100, 1900},
      {"gigabyte-x399-threadripper", 0, 0, "", 4200, 3000},
      {"beelink-eq12-n100", 0, 0, "", 3400, 2871},
      {"asrock-x570d4u-ryzen", 3, 3, "", 4950, 3700},
      {"dell-poweredge-r630-2s", 2, 8, "", 4000, 0},
      {"hyperv-vm-malformed", 2, 3, "DMI table is broken", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes raw = recordedTable(c.name, c.assumedMajor, c.assumedMinor);
    ASSERT_GT(raw.size(), 1000u);
    _smbiosInfo r = parse(raw);
    EXPECT_STREQ(c.error, r.errorText.text);
    EXPECT_EQ(c.error[0] == 0, r.valid);
    EXPECT_EQ(c.maxMhz, r.cpuMaxMHz);
    EXPECT_EQ(c.currentMhz, r.cpuCurrentMHz);
  }
}

TEST(SmbiosWalk, EveryPrefixOfARealTableIsValidOrBroken) {
  Bytes full = recordedTable("lenovo-thinkpad-t480", 0, 0);
  for (size_t size = 8; size <= full.size(); ++size) {
    Bytes prefix(full.begin(), full.begin() + size);
    _smbiosInfo r = parse(prefix);
    if (!r.valid) {
      ASSERT_STREQ("DMI table is broken", r.errorText.text) << size;
    }
  }
  EXPECT_TRUE(parse(full).valid);
}


TEST(SmbiosRead, ThroughTheFirmwareCall) {
  struct Case {
    const char* table;
    bool valid;
    const char* errorStart;
    uint16_t maxMhz, currentMhz;
  } cases[] = {
      {"supermicro-x9dbl-2s", true, "", 4000, 1800},
      {"lenovo-thinkpad-t480", true, "", 2100, 1900},
      {"beelink-eq12-n100", true, "", 3400, 2871},
      {"lenovo-thinkpad-w510", false, "Wrong MemoryDeviceInformation version", 1600, 1600},
      // No entry point, so no version to hand over: the call itself fails.
      {"asrock-x570d4u-ryzen", false, "GetSystemFirmwareTable - ", 0, 0},
      {nullptr, false, "GetSystemFirmwareTable - ", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table ? c.table : "no table");
    RecordedRoot root(nullptr, c.table);
    ASSERT_TRUE(root.ok());
    _smbiosInfo r = readSmbios();
    EXPECT_EQ(c.valid, r.valid);
    EXPECT_EQ(0, strncmp(c.errorStart, r.errorText.text, strlen(c.errorStart))) << r.errorText.text;
    if (c.valid) {
      EXPECT_TRUE(r.errorText.isEmpty());
    }
    if (c.errorStart[0] == 'G') {
      EXPECT_GT(r.errorText.length, strlen(c.errorStart));  // the system's message follows
    }
    EXPECT_EQ(c.maxMhz, r.cpuMaxMHz);
    EXPECT_EQ(c.currentMhz, r.cpuCurrentMHz);
  }
}

}  // namespace
}  // namespace ps
