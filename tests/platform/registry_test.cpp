#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/windows_api.h"
#include "testing_root.h"

namespace ps {
namespace {

using namespace platformTesting;

// ProcessorNameString of key n with non-ASCII units as \uXXXX; "<no key>" or
// "<absent>" when the key or value is missing.
std::string processorNameOf(int number) {
  HKEY key = nullptr;
  if (openProcessorKey(number, &key) != ERROR_SUCCESS) return "<no key>";
  const std::u16string valueName = wide("ProcessorNameString");
  DWORD type = 0, size = 0;
  std::string name = "<absent>";
  if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    EXPECT_EQ(type, REG_SZ);
    std::vector<char16_t> text(size / 2 + 1, u'#');
    EXPECT_EQ(RegQueryValueExW(key, valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(text[size / 2 - 1], 0) << "terminating NUL inside the size";
    name.clear();
    for (size_t i = 0; text[i] != 0; ++i) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04X", static_cast<unsigned>(text[i]));
      name += text[i] < 0x80 ? std::string(1, static_cast<char>(text[i])) : std::string(escaped);
    }
  }
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  return name;
}

// "~MHz" of key n; -1 without the value, -2 without the key.
long nominalMhzOf(int number) {
  HKEY key = nullptr;
  if (openProcessorKey(number, &key) != ERROR_SUCCESS) return -2;
  DWORD mhz = 0, size = sizeof(mhz), type = 0;
  const LSTATUS status = RegQueryValueExW(key, u"~MHz", nullptr, &type, reinterpret_cast<BYTE*>(&mhz), &size);
  RegCloseKey(key);
  if (status == ERROR_FILE_NOT_FOUND) return -1;
  EXPECT_EQ(status, ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  return static_cast<long>(mhz);
}

TEST(Registry, NamesAndNominalClocks) {
  struct {
    const char* machine;
    int key;
    const char* name;
    long mhz;
  } cases[] = {
      {"intel-i7-1165G7-tigerlake", 0, "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz", 1200},  // base_frequency
      {"intel-i7-1370P-raptorlake-hybrid", 0, "13th Gen Intel(R) Core(TM) i7-1370P", 1900},
      {"intel-i7-1370P-raptorlake-hybrid", 19, "13th Gen Intel(R) Core(TM) i7-1370P", 1400},  // E-core
      {"intel-i5-M560-dell-e4310", 3, "Intel(R) Core(TM) i5 CPU       M 560  @ 2.67GHz", 2667},  // max
      {"amd-epyc-7451-2s-96cpu", 95, "AMD EPYC 7451 24-Core Processor", 2300},
      {"intel-xeon-gold6230-2s-80cpu", 79, "Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz", 801},  // cpu MHz
      // Key 16 is cpu20, whose cpuinfo entry says 1300.201 MHz.
      {"intel-xeon-e5-2680v3-offline", 16, "Intel(R) Xeon(R) CPU E5-2680 v3 @ 2.50GHz", 1300},
      {"intel-xeon-e5-2680v3-offline", 17, "<no key>", -2},
      {"amd-opteron-6134-4s-cgroup", 6, "<no key>", -2},
      {"vm-kvm-skylake-offline", 1, "Intel Xeon Processor (Skylake, IBRS)", 2594},
      {"vm-virtualbox-i5-3317U", 1, "Intel(R) Core(TM) i5-3317U CPU @ 1.70GHz", 3800},
  };
  for (const auto& c : cases) {
    scopedRoot root(machineRoot(c.machine));
    EXPECT_EQ(processorNameOf(c.key), c.name) << c.machine << " " << c.key;
    EXPECT_EQ(nominalMhzOf(c.key), c.mhz) << c.machine << " " << c.key;
  }
}

TEST(Registry, KeyPathsAndValueSemantics) {
  scopedRoot root(machineRoot("intel-i5-M560-dell-e4310"));
  HKEY key = nullptr;
  const auto open = [&](const std::string& path) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path).c_str(), 0, KEY_QUERY_VALUE, &key);
  };
  const std::string base = "Hardware\\Description\\System\\CentralProcessor\\";
  for (const std::string& missing : {base + "00", base, base + "-1", base + "4", base + "1x", "Software\\" + base}) {
    EXPECT_EQ(open(missing), ERROR_FILE_NOT_FOUND) << missing;
    EXPECT_EQ(key, nullptr);
  }
  ASSERT_EQ(open("HARDWARE\\DESCRIPTION\\SYSTEM\\CENTRALPROCESSOR\\1"), ERROR_SUCCESS);

  const std::u16string name = wide("processornamestring");
  const DWORD needed = (47 + 1) * 2;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  std::vector<BYTE> data(needed, 0xEE);
  size = needed - 2;
  EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, data.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(data[0], 0xEE) << "nothing written on ERROR_MORE_DATA";
  EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, data.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(data[0], 'I');
  EXPECT_EQ(RegQueryValueExW(key, u"Identifier", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, data.data(), nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

TEST(Registry, CpuinfoVariantsAndBadClocks) {
  struct {
    const char* cpuinfo;
    const char* baseFrequency;  // nullptr: no file
    const char* maxFrequency;
    const char* name0;
    const char* name1;
    long mhz0;
  } cases[] = {
      // Old ARM: the name is on the first entry only.
      {"Processor\t: ARMv7 Processor rev 10 (v7l)\nprocessor\t: 0\nBogoMIPS\t: 790\n\nprocessor\t: 1\n", nullptr,
       nullptr, "ARMv7 Processor rev 10 (v7l)", "ARMv7 Processor rev 10 (v7l)", -1},
      {"processor\t: 0\ncpu model\t: MIPS 24Kc V7.4\n", nullptr, "1000000", "MIPS 24Kc V7.4", "MIPS 24Kc V7.4", 1000},
      {"processor\t: 0\ncpu\t\t: POWER9 (raw)\nclock\t\t: 2166.000000MHz\n", "junk", nullptr, "POWER9 (raw)",
       "POWER9 (raw)", 2166},
      // Entries go by their processor number, not their position.
      {"processor : 1\nmodel name : Second\ncpu MHz : 1e9\n\nprocessor : 0\nmodel name : First\ncpu MHz : 1499.5\n",
       "0", "", "First", "Second", 1500},
      {"processor : 0\nmodel name : Caf\xc3\xa9 \xff\ncpu MHz : fast\n", nullptr, "99999999999",
       "Caf\\u00E9 \\uFFFD", "Caf\\u00E9 \\uFFFD", -1},
      {"", nullptr, nullptr, "<absent>", "<absent>", -1},
  };
  for (const auto& c : cases) {
    tempTree tree;
    tree.write("proc/cpuinfo", c.cpuinfo);
    tree.write("sys/devices/system/cpu/online", "0-1\n");
    const std::string freq = "sys/devices/system/cpu/cpu0/cpufreq/";
    if (c.baseFrequency != nullptr) tree.write(freq + "base_frequency", c.baseFrequency);
    if (c.maxFrequency != nullptr) tree.write(freq + "cpuinfo_max_freq", c.maxFrequency);
    scopedRoot root(tree.root());
    EXPECT_EQ(processorNameOf(0), c.name0) << c.cpuinfo;
    EXPECT_EQ(processorNameOf(1), c.name1) << c.cpuinfo;
    EXPECT_EQ(nominalMhzOf(0), c.mhz0) << c.cpuinfo;
  }

  // A huge cpuinfo is read up to its cap; the entries before the cut stay,
  // and lines without a colon cost no more than others.
  tempTree tree;
  tree.write("sys/devices/system/cpu/online", "0-1\n");
  std::string noColons;
  for (int i = 0; i < 300000; ++i) noColons += "x\n";
  tree.write("proc/cpuinfo", "processor : 0\n" + noColons + "model name : First\n\nprocessor : 1\nmodel name : Second\n"
                             "flags : " + std::string(3 << 20, 'x') + "\n");
  scopedRoot root(tree.root());
  EXPECT_EQ(processorNameOf(0), "First");
  EXPECT_EQ(processorNameOf(1), "Second");
}

}  // namespace
}  // namespace ps
