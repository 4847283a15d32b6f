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
  return std::to_string(header.SMBIOSMajorVersion) + "." + std::to_string(header.SMBIOSMinorVersion);
}

TEST(Firmware, RecordedAndBrokenTables) {
  std::vector<_dataCase> cases = dataCases("platform/firmware_tables.txt");
  const std::string smbios28("_SM_\0\0\x02\x08", 8);
  // Larger than any real table: refused rather than read without end.
  cases.push_back({{"-", "error 13", "0", "2"},
                   {{dmiPath, std::string(17 << 20, '\x11')}, {entryPath, smbios28}}});
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - &cases[0]);
    ASSERT_EQ(c.fields.size(), 4u);
    _tempTree tree;
    if (c.fields[0] != "-") tree.link("sys/firmware/dmi/tables", smbiosDir(c.fields[0]));
    tree.write(c.files);
    _scopedRoot root(tree.root());
    EXPECT_EQ(firmwareOutcome(tree.root()), c.fields[1]);
    ULONGLONG kib = 0;
    EXPECT_EQ(GetPhysicallyInstalledSystemMemory(&kib), c.fields[2] != "0");
    EXPECT_EQ(std::to_string(kib), c.fields[2]);
    if (kib == 0) {
      EXPECT_EQ(std::to_string(GetLastError()), c.fields[3]);
    }
  }

  _tempTree tree({{dmiPath, std::string("\x7f\x04\0\0\0\0", 6)}, {entryPath, smbios28}});
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
