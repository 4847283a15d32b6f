#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;

// Which keys exist and the names they give; the ~MHz values are the rated clocks' test.
TEST(Registry, ProcessorKeys) {
  const std::tuple<const char*, int, const char16_t*> cases[] = {
      {"intel-i7-1370P-raptorlake-hybrid", 19, u"13th Gen Intel(R) Core(TM) i7-1370P"},
      {"amd-epyc-7451-2s-96cpu", 95, u"AMD EPYC 7451 24-Core Processor"},
      {"intel-xeon-e5-2680v3-offline", 17, u"<no key>"},  // 17 processors online
      {"amd-opteron-6134-4s-cgroup", 6, u"<no key>"},     // 6 in the cpuset
  };
  for (const auto& [machine, number, name] : cases) {
    const _scopedRoot root(machineRoot(machine));
    EXPECT_EQ(processorKeyValues(number).first, name) << machine << " " << number;
  }
}

TEST(Registry, KeyPathsAndValueSemantics) {
  const _scopedRoot root(machineRoot("intel-i5-M560-dell-e4310"));
  const std::string base = "Hardware\\Description\\System\\CentralProcessor\\";
  HKEY key = nullptr;
  for (const std::string& path : {base + "00", base, base + "-1", base + "4", base + "1x", "Software\\" + base}) {
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path).c_str(), 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr) << path;
  }
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DESCRIPTION\\SYSTEM\\CENTRALPROCESSOR\\1", 0,
                          KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  // A buffer one unit short: ERROR_MORE_DATA with the size needed and nothing written.
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
