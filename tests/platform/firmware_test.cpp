#include "platform/linux/firmware.h"
#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;

const std::string dmiPath = "sys/firmware/dmi/tables/DMI";
const std::string entryPath = "sys/firmware/dmi/tables/smbios_entry_point";

// GetSystemFirmwareTable as a caller uses it (size query, short buffer, table): the version, or "error N".
std::string firmwareOutcome(const std::string& root) {
  const UINT needed = GetSystemFirmwareTable(RSMB_PROVIDER, 0, nullptr, 0);
  if (needed == 0) return "error " + std::to_string(GetLastError());
  std::vector<BYTE> buffer(needed + 1, 0xEE);
  EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, buffer.data(), needed - 1), needed);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetSystemFirmwareTable(RSMB_PROVIDER, 0, buffer.data(), needed), needed);
  const std::string dmi = fileBytes(root + "/" + dmiPath);
  RawSMBIOSData header;
  std::memcpy(&header, buffer.data(), 8);
  EXPECT_TRUE(header.Used20CallingMethod == 0 && header.Length == dmi.size() && needed == dmi.size() + 8);
  EXPECT_TRUE(std::memcmp(buffer.data() + 8, dmi.data(), dmi.size()) == 0 && buffer[needed] == 0xEE);
  return std::to_string(header.SMBIOSMajorVersion) + "." + std::to_string(header.SMBIOSMinorVersion) + "." +
         std::to_string(header.DmiRevision);
}

TEST(Firmware, RecordedAndBrokenTables) {
  const std::string endOfTable("\x7f\x04\x00\x00\x00\x00", 6), smbios28("_SM_\0\0\x02\x08", 8);
  // Three online memory blocks of 128 MiB, one offline; MemTotal is never the answer.
  const std::string memory = "sys/devices/system/memory/";
  const _treeFiles blocks = {{memory + "block_size_bytes", "8000000\n"}, {memory + "memory0/state", "online\n"},
                             {memory + "memory1/state", "online\n"}, {memory + "memory2/state", "offline\n"},
                             {memory + "memory39/state", "online\n"}, {memory + "memory_x/state", "online\n"},
                             {"proc/meminfo", "MemTotal:       32777916 kB\n"}};
  // One Memory Device of the given length, the Size word where the length holds it, then the end of the table.
  const auto device = [&](int length, unsigned size) {
    std::string t(length, '\0');
    t[0] = 17, t[1] = static_cast<char>(length);
    if (length >= 0x0E) t[0x0C] = static_cast<char>(size & 0xFF), t[0x0D] = static_cast<char>(size >> 8);
    return _treeFiles{{dmiPath, t + std::string("\0\0", 2) + endOfTable}, {entryPath, smbios28}};
  };
  struct {
    const char* recorded;  // table directory linked in, if any
    _treeFiles files;
    const char* firmware;
    ULONGLONG memoryKiB;  // with the error when 0
    DWORD memoryError;
  } cases[] = {
      {"gigabyte-ga-ma74gmt-s2", {}, "2.4.0", 2ull << 20, 0},  // 2 of 4 slots, short type 17
      {"gigabyte-x399-threadripper", {}, "3.1.1", 128ull << 20, 0},
      {"beelink-eq12-n100", {}, "3.5.0", 16ull << 20, 0},  // no end-of-table structure
      {"vmware-vm", {}, "2.7.0", 1ull << 20, 0},
      // Published without an entry point: no version to report.
      {"asrock-x570d4u-ryzen", {}, "error 13", 64ull << 20, 0},  // 2 x 32 GiB in Extended Size
      {"supermicro-h8qg6-4s-opteron", {}, "error 13", 128ull << 20, 0},
      // Malformed early on: the online memory blocks are the fallback.
      {"hyperv-vm-malformed", blocks, "error 13", 3 << 17, 0},
      {"hyperv-vm-malformed", with(blocks, {{memory + "block_size_bytes", "0x8000000\n"}}), "error 13", 0,
       ERROR_INVALID_DATA},
      {nullptr, {{"proc/meminfo", "MemTotal:       32777916 kB\n"}}, "error 2", 0, ERROR_FILE_NOT_FOUND},
      {nullptr, {{dmiPath, endOfTable}, {entryPath, "_SM"}}, "error 13", 0, ERROR_FILE_NOT_FOUND},
      {nullptr, device(0x22, 0x8000 | 512), "2.8.0", 512, 0},  // KiB granularity
      {nullptr, device(0x1F, 0x7FFF), "2.8.0", 0x7FFFull << 10, 0},  // one byte short of the Extended Size field
      {nullptr, device(0x22, 0xFFFF), "2.8.0", 0, ERROR_FILE_NOT_FOUND},  // size unknown
      {nullptr, device(0x0C, 4096), "2.8.0", 0, ERROR_FILE_NOT_FOUND},  // too short for the Size word
      // Cut inside the second structure: handed over as it is.
      {nullptr, {{dmiPath, fileBytes(smbiosDir("vmware-vm") + "/DMI").substr(0, 100)}, {entryPath, smbios28}},
       "2.8.0", 0, ERROR_FILE_NOT_FOUND},
      // Larger than any real table: refused rather than read without end.
      {nullptr, {{dmiPath, std::string(17 << 20, '\x11')}, {entryPath, smbios28}}, "error 13", 0, ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    _tempTree tree;
    if (c.recorded != nullptr) tree.link("sys/firmware/dmi/tables", smbiosDir(c.recorded));
    tree.write(c.files);
    _scopedRoot root(tree.root());
    EXPECT_EQ(firmwareOutcome(tree.root()), c.firmware);
    ULONGLONG kib = 0;
    EXPECT_EQ(GetPhysicallyInstalledSystemMemory(&kib), c.memoryKiB != 0);
    EXPECT_EQ(kib, c.memoryKiB);
    if (c.memoryKiB == 0) {
      EXPECT_EQ(GetLastError(), c.memoryError);
    }
  }

  _tempTree tree(device(0x22, 0xFFFF));
  _scopedRoot root(tree.root());
  EXPECT_EQ(GetSystemFirmwareTable(0x41435049 /* 'ACPI' */, 0, nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetPhysicallyInstalledSystemMemory(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  if (geteuid() != 0 && ::chmod((tree.root() + "/" + dmiPath).c_str(), 0) == 0) {  // root reads any mode
    EXPECT_EQ(firmwareOutcome(tree.root()), "error 5");
  }
}

TEST(Firmware, TruncatedTablesNeverOverread) {
  const std::string dmi = fileBytes(smbiosDir("asrock-x570d4u-ryzen") + "/DMI");
  ULONGLONG previous = 0;
  for (size_t length = 0; length <= dmi.size(); ++length) {
    ULONGLONG kib = 0;
    if (!linuxLayer::installedMemoryKiB(dmi.substr(0, length), &kib)) kib = 0;
    EXPECT_GE(kib, previous) << length;
    previous = kib;
  }
  EXPECT_EQ(previous, 64ull << 20);
}

}  // namespace
}  // namespace ps
