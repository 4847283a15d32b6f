#include <map>

#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;

// The counter-name table, split into its index/name pairs as a caller does.
std::map<std::string, DWORD> counterIndexes() {
  DWORD size = 0, type = 0;
  EXPECT_EQ(RegQueryValueExW(HKEY_PERFORMANCE_TEXT, u"Counter", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  std::vector<char16_t> table(size / 2);
  BYTE* data = reinterpret_cast<BYTE*>(table.data());
  EXPECT_EQ(RegQueryValueExW(HKEY_PERFORMANCE_TEXT, u"Counter", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  std::vector<std::string> strings(1);
  for (const char16_t unit : table) {
    if (unit == 0) strings.emplace_back();
    else strings.back() += char(unit);
  }
  // Pairs, the closing empty string, and the split's own empty tail.
  EXPECT_TRUE(strings.size() % 2 == 0 && strings[strings.size() - 2].empty());
  std::map<std::string, DWORD> indexes;
  for (size_t i = 0; i + 3 < strings.size(); i += 2) indexes[strings[i + 1]] = std::stoul(strings[i]);
  return indexes;
}

// One object's block walked by its own length fields, as a Windows caller does: "name frequency performance".
std::vector<std::string> instancesOf(DWORD objectIndex, DWORD* objects) {
  const std::map<std::string, DWORD> indexes = counterIndexes();
  std::vector<BYTE> data(264000);
  DWORD size = static_cast<DWORD>(data.size());
  const std::string valueName = std::to_string(objectIndex);
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, valueName.c_str(), nullptr, nullptr, data.data(), &size), 0);
  PERF_DATA_BLOCK block;
  std::memcpy(&block, data.data(), sizeof(block));
  EXPECT_TRUE(std::memcmp(block.Signature, u"PERF", 8) == 0 && block.TotalByteLength == size);
  *objects = block.NumObjectTypes;
  if (block.NumObjectTypes == 0) return {};
  PERF_OBJECT_TYPE object;
  const BYTE* base = data.data() + block.HeaderLength;
  std::memcpy(&object, base, sizeof(object));
  EXPECT_TRUE(object.ObjectNameTitleIndex == objectIndex && block.HeaderLength + object.TotalByteLength == size);
  DWORD frequencyAt = 0, performanceAt = 0;
  PERF_COUNTER_DEFINITION counter;
  for (DWORD i = 0, at = object.HeaderLength; i < object.NumCounters; ++i, at += counter.ByteLength) {
    std::memcpy(&counter, base + at, sizeof(counter));
    if (counter.CounterNameTitleIndex == indexes.at("Processor Frequency")) frequencyAt = counter.CounterOffset;
    if (counter.CounterNameTitleIndex == indexes.at("% Processor Performance")) performanceAt = counter.CounterOffset;
  }
  EXPECT_TRUE(frequencyAt != 0 && performanceAt != 0);
  std::vector<std::string> out(object.NumInstances > 0 ? object.NumInstances : 0);
  const BYTE* p = base + object.DefinitionLength;
  for (std::string& item : out) {
    PERF_INSTANCE_DEFINITION header;
    PERF_COUNTER_BLOCK counters;
    DWORD frequency = 0, performance = 0;
    std::memcpy(&header, p, sizeof(header));
    for (const BYTE* c = p + header.NameOffset; c[0] != 0 || c[1] != 0; c += 2) item += char(c[0]);
    EXPECT_EQ(header.NameLength, (item.size() + 1) * 2);
    p += header.ByteLength;
    std::memcpy(&frequency, p + frequencyAt, 4);
    std::memcpy(&performance, p + performanceAt, 4);
    std::memcpy(&counters, p, sizeof(counters));
    p += counters.ByteLength;
    item += " " + std::to_string(frequency) + " " + std::to_string(performance);
  }
  EXPECT_EQ(p, data.data() + size);
  return out;
}

TEST(PerfData, RecordedMachines) {
  // Machine, instance count, some instances as "name frequency performance".
  const std::tuple<const char*, size_t, std::vector<std::pair<size_t, const char*>>> cases[] = {
      // scaling_cur_freq 2893313 kHz against the rated 2300 MHz (boost); groups of 48.
      {"amd-epyc-7451-2s-96cpu", 99, {{0, "0,0 2893 126"}, {48, "0,_Total 2894 126"}, {49, "1,0 2894 126"},
                                      {97, "1,_Total 2894 126"}, {98, "_Total 2894 126"}}},
      // cpuinfo's live clocks against the 2100 in the name; groups of 40.
      {"intel-xeon-gold6230-2s-80cpu", 83, {{0, "0,0 800 38"}, {40, "0,_Total 802 38"}, {80, "1,39 801 38"}}},
      {"intel-i7-1370P-raptorlake-hybrid", 22, {{0, "0,0 1171 62"}, {19, "0,19 400 21"}}},
      {"intel-xeon-e5-2680v3-offline", 19, {{16, "0,16 1300 52"}}},
      {"vm-virtualbox-i5-3317U", 4, {{1, "0,1 1600 94"}, {2, "0,_Total 1600 94"}}},
      {"amd-opteron-6134-4s-cgroup", 8, {{5, "0,5 800 35"}}},
  };
  const DWORD processorInformation = counterIndexes().at("Processor Information");
  for (const auto& [machine, count, probes] : cases) {
    SCOPED_TRACE(machine);
    const _scopedRoot root(machineRoot(machine));
    DWORD objects = 0;
    const auto instances = instancesOf(processorInformation, &objects);
    EXPECT_EQ(objects, 1u);
    ASSERT_EQ(instances.size(), count);
    for (const auto& [at, text] : probes) EXPECT_EQ(instances[at], text);
  }
}

TEST(PerfData, UnknownObjectShortBufferAndMissingClocks) {
  _tempTree tree({{"sys/devices/system/cpu/online", "0-2"},
                 {"sys/devices/system/cpu/cpu1/cpufreq/scaling_cur_freq", "1500000\n"},
                 {"proc/cpuinfo", "processor : 0\ncpu MHz : garbage\n"}});
  _scopedRoot root(tree.root());
  DWORD objects = 9;
  EXPECT_TRUE(instancesOf(238, &objects).empty());  // the older Processor object is not served
  EXPECT_EQ(objects, 0u);

  const DWORD index = counterIndexes().at("Processor Information");
  std::vector<BYTE> data(200);
  DWORD size = static_cast<DWORD>(data.size());
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, std::to_string(index).c_str(), nullptr, nullptr, data.data(), &size),
            ERROR_MORE_DATA);
  // No nominal clock anywhere, so no performance; totals average the known clocks.
  EXPECT_EQ(instancesOf(index, &objects),
            (std::vector<std::string>{"0,0 0 0", "0,1 1500 0", "0,2 0 0", "0,_Total 1500 0", "_Total 1500 0"}));
}

}  // namespace
}  // namespace ps
