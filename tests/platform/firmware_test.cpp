#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/firmware.h"
#include "platform/windows_api.h"
#include "testing_root.h"

namespace ps {
namespace {

using namespace platformTesting;

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A root whose sys/firmware/dmi/tables is the recorded table directory.
struct smbiosRoot {
  explicit smbiosRoot(const std::string& table) : root(tree.root()) {
    tree.link("sys/firmware/dmi/tables", smbiosDir(table));
  }
  tempTree tree;
  scopedRoot root;
};

TEST(Firmware, RecordedTablesBehindTheRawHeader) {
  struct {
    const char* table;
    int major, minor, docRevision;
  } cases[] = {{"gigabyte-ga-ma74gmt-s2", 2, 4, 0},     {"lenovo-thinkpad-w510", 2, 6, 0},
               {"supermicro-x9dbl-2s", 2, 7, 0},        {"lenovo-thinkpad-t480", 3, 0, 0},
               {"gigabyte-x399-threadripper", 3, 1, 1}, {"beelink-eq12-n100", 3, 5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    smbiosRoot fake(c.table);
    const std::string dmi = fileBytes(smbiosDir(c.table) + "/DMI");
    const UINT needed = GetSystemFirmwareTable(RSMB_PROVIDER, 0, nullptr, 0);
    ASSERT_EQ(needed, dmi.size() + 8);
    std::vector<BYTE> buffer(needed + 16, 0xEE);
    EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, buffer.data(), needed - 1), needed);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, buffer.data(), needed), needed);
    RawSMBIOSData header;
    std::memcpy(&header, buffer.data(), 8);
    EXPECT_EQ(header.Used20CallingMethod, 0);
    EXPECT_EQ(header.SMBIOSMajorVersion, c.major);
    EXPECT_EQ(header.SMBIOSMinorVersion, c.minor);
    EXPECT_EQ(header.DmiRevision, c.docRevision);
    EXPECT_EQ(header.Length, dmi.size());
    EXPECT_EQ(std::memcmp(buffer.data() + 8, dmi.data(), dmi.size()), 0);
    EXPECT_EQ(buffer[needed], 0xEE);
  }
}

TEST(Firmware, FailuresCarryTheLastError) {
  {
    // A table published without its entry point has no version to report.
    smbiosRoot fake("asrock-x570d4u-ryzen");
    EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, nullptr, 0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  }
  tempTree tree;
  scopedRoot root(tree.root());
  EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetSystemFirmwareTable(0x41435049 /* 'ACPI' */, 0, nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  tree.write("sys/firmware/dmi/tables/DMI", std::string("\x7f\x04\x00\x00\x00\x00", 6));
  tree.write("sys/firmware/dmi/tables/smbios_entry_point", "_SM");
  EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  tree.write("sys/firmware/dmi/tables/smbios_entry_point", std::string("_SM_\0\0\x02\x08", 8));
  EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, nullptr, 0), 14u);

  // Larger than any real table: refused rather than read without end.
  ASSERT_EQ(::truncate((tree.root() + "/sys/firmware/dmi/tables/DMI").c_str(), 17 << 20), 0);
  EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);

  if (geteuid() != 0) {  // root reads the file whatever its mode
    ::chmod((tree.root() + "/sys/firmware/dmi/tables/DMI").c_str(), 0);
    EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, nullptr, 0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
}

TEST(Firmware, InstalledMemoryFromRecordedTables) {
  const std::pair<const char*, ULONGLONG> cases[] = {
      {"gigabyte-ga-ma74gmt-s2", 2ull << 20},  // 2 of 4 slots, short type 17
      {"asrock-x570d4u-ryzen", 64ull << 20},   // 2 x 32 GiB in Extended Size
      {"supermicro-h8qg6-4s-opteron", 128ull << 20},
      {"beelink-eq12-n100", 16ull << 20},  // no end-of-table structure
      {"vmware-vm", 1ull << 20},
  };
  for (const auto& c : cases) {
    smbiosRoot fake(c.first);
    ULONGLONG kib = 0;
    EXPECT_TRUE(GetPhysicallyInstalledSystemMemory(&kib)) << c.first;
    EXPECT_EQ(kib, c.second) << c.first;
  }
}

TEST(Firmware, TruncatedTablesNeverOverread) {
  const std::string dmi = fileBytes(smbiosDir("asrock-x570d4u-ryzen") + "/DMI");
  ULONGLONG previous = 0;
  for (size_t length = 0; length <= dmi.size(); ++length) {
    ULONGLONG kib = 0;
    const bool found = linuxLayer::installedMemoryKiB(dmi.substr(0, length), &kib);
    if (!found) kib = 0;
    EXPECT_GE(kib, previous) << length;
    previous = kib;
  }
  EXPECT_EQ(previous, 64ull << 20);
}

TEST(Firmware, MemoryDeviceSizeForms) {
  // One type 17 structure of the given length with the Size word and, when
  // long enough, the Extended Size; then an end-of-table.
  const auto table = [](int length, unsigned size, unsigned long extended) {
    std::string t(length, '\0');
    t[0] = 17;
    t[1] = static_cast<char>(length);
    if (length >= 0x0E) t[0x0C] = static_cast<char>(size & 0xFF), t[0x0D] = static_cast<char>(size >> 8);
    for (int i = 0; i < 4 && 0x1C + i < length; ++i) t[0x1C + i] = static_cast<char>(extended >> (8 * i));
    return t + std::string("\0\0\x7f\x04\0\0\0\0", 8);
  };
  struct {
    std::string data;
    bool found;
    ULONGLONG kib;
  } cases[] = {
      {table(0x22, 2048, 0), true, 2048 * 1024},
      {table(0x22, 0x8000 | 512, 0), true, 512},
      {table(0x22, 0x7FFF, 65536), true, 65536ull * 1024},
      {table(0x1B, 0x7FFF, 0), true, 0x7FFFull * 1024},  // no Extended Size field
      {table(0x22, 0, 0), false, 0},
      {table(0x22, 0xFFFF, 0), false, 0},
      {table(0x0C, 4096, 0), false, 0},  // too short to hold the Size word
      {std::string("\x11\x02\0\0", 4) + table(0x22, 2048, 0), false, 0},  // length below 4
      {std::string("\x11\x40\0\0", 4), false, 0},                          // runs past the end
      {"", false, 0},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    ULONGLONG kib = 0;
    EXPECT_EQ(linuxLayer::installedMemoryKiB(cases[i].data, &kib), cases[i].found) << i;
    if (cases[i].found) {
      EXPECT_EQ(kib, cases[i].kib) << i;
    }
  }
}

TEST(Firmware, MemTotalFallback) {
  tempTree tree;
  tree.link("sys/firmware/dmi/tables", smbiosDir("hyperv-vm-malformed"));
  scopedRoot root(tree.root());
  ULONGLONG kib = 0;
  EXPECT_FALSE(GetPhysicallyInstalledSystemMemory(&kib));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  tree.write("proc/meminfo", "MemFree: 5 kB\nMemTotal:       lots kB\n");
  EXPECT_FALSE(GetPhysicallyInstalledSystemMemory(&kib));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  tree.write("proc/meminfo", "MemTotal:       32777916 kB\nMemFree: 5 kB\n");
  EXPECT_TRUE(GetPhysicallyInstalledSystemMemory(&kib));
  EXPECT_EQ(kib, 32777916u);
  EXPECT_FALSE(GetPhysicallyInstalledSystemMemory(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace ps
