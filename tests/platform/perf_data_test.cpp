#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/windows_api.h"
#include "testing_root.h"

namespace ps {
namespace {

using namespace platformTesting;

// The counter-name table, split into its index/name pairs as a caller does.
std::map<std::string, DWORD> counterIndexes() {
  DWORD size = 0, type = 0;
  EXPECT_EQ(RegQueryValueExW(HKEY_PERFORMANCE_TEXT, u"Counter", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  std::vector<char16_t> table(size / 2);
  DWORD small = size - 2;
  BYTE* data = reinterpret_cast<BYTE*>(table.data());
  EXPECT_EQ(RegQueryValueExW(HKEY_PERFORMANCE_TEXT, u"Counter", nullptr, nullptr, data, &small), ERROR_MORE_DATA);
  EXPECT_EQ(RegQueryValueExW(HKEY_PERFORMANCE_TEXT, u"Counter", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  std::vector<std::string> strings(1);
  for (const char16_t unit : table) {
    if (unit == 0) strings.emplace_back();
    else strings.back() += char(unit);
  }
  // Pairs, the closing empty string, and the split's own empty tail.
  EXPECT_EQ(strings.size() % 2, 0u);
  EXPECT_EQ(strings[strings.size() - 2], "");
  std::map<std::string, DWORD> indexes;
  for (size_t i = 0; i + 3 < strings.size(); i += 2) indexes[strings[i + 1]] = std::stoul(strings[i]);
  return indexes;
}

struct instance {
  std::string name;
  DWORD frequency, performance;
};

// Queries one object and walks the block by its own length fields.
std::vector<instance> instancesOf(DWORD objectIndex, DWORD* objects) {
  const std::map<std::string, DWORD> indexes = counterIndexes();
  std::vector<BYTE> data(264000);
  DWORD size = static_cast<DWORD>(data.size());
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, std::to_string(objectIndex).c_str(), nullptr, nullptr,
                             data.data(), &size),
            ERROR_SUCCESS);
  PERF_DATA_BLOCK block;
  std::memcpy(&block, data.data(), sizeof(block));
  EXPECT_EQ(std::memcmp(block.Signature, u"PERF", 8), 0);
  EXPECT_EQ(block.TotalByteLength, size);
  *objects = block.NumObjectTypes;
  std::vector<instance> out;
  if (block.NumObjectTypes == 0) return out;

  PERF_OBJECT_TYPE object;
  const BYTE* base = data.data() + block.HeaderLength;
  std::memcpy(&object, base, sizeof(object));
  EXPECT_EQ(object.ObjectNameTitleIndex, objectIndex);
  EXPECT_EQ(block.HeaderLength + object.TotalByteLength, size);
  DWORD frequencyAt = 0, performanceAt = 0;
  for (DWORD i = 0, at = object.HeaderLength; i < object.NumCounters; ++i) {
    PERF_COUNTER_DEFINITION counter;
    std::memcpy(&counter, base + at, sizeof(counter));
    if (counter.CounterNameTitleIndex == indexes.at("Processor Frequency")) frequencyAt = counter.CounterOffset;
    if (counter.CounterNameTitleIndex == indexes.at("% Processor Performance")) performanceAt = counter.CounterOffset;
    at += counter.ByteLength;
  }
  EXPECT_TRUE(frequencyAt != 0 && performanceAt != 0);
  const BYTE* p = base + object.DefinitionLength;
  for (LONG i = 0; i < object.NumInstances; ++i) {
    PERF_INSTANCE_DEFINITION header;
    std::memcpy(&header, p, sizeof(header));
    instance item{"", 0, 0};
    for (const BYTE* c = p + header.NameOffset; c[0] != 0 || c[1] != 0; c += 2) item.name += char(c[0]);
    EXPECT_EQ(header.NameLength, (item.name.size() + 1) * 2);
    const BYTE* counters = p + header.ByteLength;
    std::memcpy(&item.frequency, counters + frequencyAt, 4);
    std::memcpy(&item.performance, counters + performanceAt, 4);
    PERF_COUNTER_BLOCK counterBlock;
    std::memcpy(&counterBlock, counters, sizeof(counterBlock));
    p = counters + counterBlock.ByteLength;
    out.push_back(item);
  }
  EXPECT_EQ(p, data.data() + size);
  return out;
}

TEST(PerfData, RecordedMachines) {
  const auto indexes = counterIndexes();
  for (const char* name : {"Processor Information", "Processor Frequency", "% Processor Performance"}) {
    ASSERT_EQ(indexes.count(name), 1u) << name;
    EXPECT_TRUE(indexes.at(name) != 6 && indexes.at(name) != 230 && indexes.at(name) != 238);
  }
  EXPECT_EQ(indexes.at("Processor"), 238u);

  struct probe {
    size_t position;
    const char* name;
    DWORD frequency, performance;
  };
  struct {
    const char* machine;
    size_t instances;
    std::vector<probe> probes;
  } cases[] = {
      // scaling_cur_freq 2893313 kHz against a 2300000 kHz maximum (boost).
      {"amd-epyc-7451-2s-96cpu", 99, {{0, "0,0", 2893, 126}, {64, "0,_Total", 2894, 126}, {96, "1,31", 2894, 126},
                                      {97, "1,_Total", 2894, 126}, {98, "_Total", 2894, 126}}},
      {"intel-xeon-gold6230-2s-80cpu", 83, {{0, "0,0", 800, 100}, {80, "1,15", 801, 100}}},  // cpuinfo only
      {"intel-i7-1370P-raptorlake-hybrid", 22, {{0, "0,0", 1171, 62}, {19, "0,19", 400, 29}}},
      {"intel-xeon-e5-2680v3-offline", 19, {{0, "0,0", 2500, 100}, {16, "0,16", 1300, 100}}},
      {"vm-virtualbox-i5-3317U", 4, {{1, "0,1", 1600, 42}, {2, "0,_Total", 1600, 42}}},
      {"amd-opteron-6134-4s-cgroup", 8, {{5, "0,5", 800, 35}, {7, "_Total", 0, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    scopedRoot root(machineRoot(c.machine));
    DWORD objects = 0;
    const auto instances = instancesOf(indexes.at("Processor Information"), &objects);
    EXPECT_EQ(objects, 1u);
    ASSERT_EQ(instances.size(), c.instances);
    for (const probe& p : c.probes) {
      EXPECT_EQ(instances[p.position].name, p.name);
      if (p.frequency == 0) continue;  // a total not pinned here
      EXPECT_EQ(instances[p.position].frequency, p.frequency) << p.name;
      EXPECT_EQ(instances[p.position].performance, p.performance) << p.name;
    }
  }
}

TEST(PerfData, UnknownObjectShortBufferAndMissingClocks) {
  tempTree tree;
  tree.write("sys/devices/system/cpu/online", "0-2");
  tree.write("sys/devices/system/cpu/cpu1/cpufreq/scaling_cur_freq", "1500000\n");
  tree.write("proc/cpuinfo", "processor : 0\ncpu MHz : garbage\n");
  scopedRoot root(tree.root());
  DWORD objects = 9;
  EXPECT_TRUE(instancesOf(238, &objects).empty());
  EXPECT_EQ(objects, 0u);

  std::vector<BYTE> data(200);
  DWORD size = static_cast<DWORD>(data.size());
  const std::string index = std::to_string(counterIndexes().at("Processor Information"));
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, index.c_str(), nullptr, nullptr, data.data(), &size),
            ERROR_MORE_DATA);

  const auto instances = instancesOf(std::stoul(index), &objects);
  ASSERT_EQ(instances.size(), 5u);
  EXPECT_EQ(instances[0].frequency, 0u);
  EXPECT_EQ(instances[1].frequency, 1500u);
  EXPECT_EQ(instances[1].performance, 0u) << "no nominal clock";
  EXPECT_EQ(instances[3].name, "0,_Total");
  EXPECT_EQ(instances[3].frequency, 1500u) << "totals average the known clocks";
}

}  // namespace
}  // namespace ps
