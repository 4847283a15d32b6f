#include "testing_root.h"

namespace ps {
namespace {

using namespace platformTesting;

TEST(Registry, NamesAndNominalClocks) {
  struct {
    const char* machine;
    int key;
    const char16_t* name;
    long mhz;
  } cases[] = {
      {"intel-i7-1165G7-tigerlake", 0, u"11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz", 1200},  // base_frequency
      {"intel-i7-1370P-raptorlake-hybrid", 0, u"13th Gen Intel(R) Core(TM) i7-1370P", 1900},
      {"intel-i7-1370P-raptorlake-hybrid", 19, u"13th Gen Intel(R) Core(TM) i7-1370P", 1400},      // E-core
      {"intel-i5-M560-dell-e4310", 3, u"Intel(R) Core(TM) i5 CPU       M 560  @ 2.67GHz", 2667},  // max
      {"amd-epyc-7451-2s-96cpu", 95, u"AMD EPYC 7451 24-Core Processor", 2300},
      {"intel-xeon-gold6230-2s-80cpu", 79, u"Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz", 801},     // cpu MHz
      // Key 16 is cpu20, whose cpuinfo entry says 1300.201 MHz.
      {"intel-xeon-e5-2680v3-offline", 16, u"Intel(R) Xeon(R) CPU E5-2680 v3 @ 2.50GHz", 1300},
      {"intel-xeon-e5-2680v3-offline", 17, u"<no key>", -2},
      {"amd-opteron-6134-4s-cgroup", 6, u"<no key>", -2},
      {"vm-kvm-skylake-offline", 1, u"Intel Xeon Processor (Skylake, IBRS)", 2594},
  };
  for (const auto& c : cases) {
    scopedRoot root(machineRoot(c.machine));
    EXPECT_EQ(processorKeyValues(c.key), std::make_pair(std::u16string(c.name), c.mhz)) << c.machine << " " << c.key;
  }
}

TEST(Registry, KeyPathsAndValueSemantics) {
  scopedRoot root(machineRoot("intel-i5-M560-dell-e4310"));
  const std::string base = "Hardware\\Description\\System\\CentralProcessor\\";
  HKEY key = nullptr;
  for (const std::string& path : {base + "00", base, base + "-1", base + "4", base + "1x", "Software\\" + base}) {
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path).c_str(), 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr) << path;
  }
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DESCRIPTION\\SYSTEM\\CENTRALPROCESSOR\\1", 0,
                          KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  // Size query, then a buffer one unit short: ERROR_MORE_DATA with the size
  // needed and nothing written.
  const char16_t* name = u"processornamestring";
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, (47u + 1) * 2);
  std::vector<BYTE> data(size, 0xEE);
  DWORD small = size - 2;
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, data.data(), &small), ERROR_MORE_DATA);
  EXPECT_TRUE(small == size && data[0] == 0xEE);
  EXPECT_EQ(RegQueryValueExW(key, u"Identifier", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, data.data(), nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace ps
