#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;

TEST(Registry, KeyPathsAndClosedKeys) {
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
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"~MHz", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace ps
