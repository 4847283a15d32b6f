// The processor calls as a Windows caller makes them, over whatever root the
// layer reads: the groups and their cores, the performance data of one
// object, and the rated clock of every processor.
#pragma once

#include <array>
#include <map>

#include "platform/linux/snapshot.h"
#include "recorded_machine.h"

namespace ps {
namespace testSupport {

using linuxLayer::_processorList;

// Per group: logical processors, cores, cores with several threads, packages.
using _groupShape = std::array<int, 4>;

// GetLogicalProcessorInformationEx(RelationGroup) after its size query: count and mask per group.
inline std::vector<std::pair<int, KAFFINITY>> activeGroups() {
  DWORD length = 0;
  EXPECT_FALSE(GetLogicalProcessorInformationEx(RelationGroup, nullptr, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buffer(length);
  EXPECT_TRUE(GetLogicalProcessorInformationEx(
      RelationGroup, reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data()), &length));
  SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX record;
  std::memcpy(&record, buffer.data(), sizeof(record));
  EXPECT_EQ(record.Size, length);
  std::vector<std::pair<int, KAFFINITY>> groups(record.Group.ActiveGroupCount);
  for (size_t g = 0; g < groups.size(); ++g) {
    PROCESSOR_GROUP_INFO info;
    std::memcpy(&info, buffer.data() + 32 + g * sizeof(info), sizeof(info));
    groups[g] = {info.ActiveProcessorCount, info.ActiveProcessorMask};
  }
  return groups;
}

// GetLogicalProcessorInformation: size query, a buffer one byte short, then a roomy one.
inline std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> callingGroupRecords() {
  DWORD length = 0;
  EXPECT_FALSE(GetLogicalProcessorInformation(nullptr, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> buffer(length / 32 + 2);
  DWORD tooSmall = length - 1, roomy = static_cast<DWORD>(buffer.size() * 32);
  EXPECT_FALSE(GetLogicalProcessorInformation(buffer.data(), &tooSmall));
  EXPECT_TRUE(GetLogicalProcessorInformation(buffer.data(), &roomy));
  EXPECT_TRUE(tooSmall == length && roomy == length && length % 32 == 0);
  buffer.resize(length / 32);
  return buffer;
}

// The groups as a caller sees them (group 0 through the call), checked for
// consecutive cores ascending by lowest CPU, threads ascending, groups ascending.
inline std::vector<_groupShape> groupShapes() {
  const auto snapshot = linuxLayer::processorSnapshot();
  const _processorList& list = snapshot->list;
  EXPECT_EQ(GetActiveProcessorGroupCount(), list.groupCount());
  const auto groups = activeGroups();
  EXPECT_EQ(groups.size(), static_cast<size_t>(list.groupCount()));
  std::vector<_groupShape> shapes;
  int lastGroupCpu = -1;
  for (int g = 0; g < list.groupCount() && g < static_cast<int>(groups.size()); ++g) {
    const int logical = list.groupSize(g), first = list.groupStart(g);
    EXPECT_EQ(groups[g], std::make_pair(logical, KAFFINITY(logical == 64 ? ~0ull : (1ull << logical) - 1)));
    const int lowest = *std::min_element(list.cpus.begin() + first, list.cpus.begin() + first + logical);
    EXPECT_GT(lowest, lastGroupCpu) << "groups out of order";
    lastGroupCpu = lowest;
    _groupShape got{0, 0, 0, 0};
    KAFFINITY seen = 0;
    int lastCoreCpu = -1;
    for (const auto& record : g == 0 ? callingGroupRecords() : snapshot->records[g]) {
      const int bits = __builtin_popcountll(record.ProcessorMask);
      if (record.Relationship == RelationProcessorPackage) ++got[3];
      if (record.Relationship != RelationProcessorCore) continue;
      const int low = __builtin_ctzll(record.ProcessorMask);
      EXPECT_EQ(record.ProcessorMask, ((bits == 64 ? 0 : 1ull << bits) - 1) << low) << "core not consecutive";
      EXPECT_EQ(seen & record.ProcessorMask, 0u) << "processor in two cores";
      EXPECT_EQ(record.ProcessorCore.Flags, bits > 1 ? 1 : 0);
      EXPECT_GT(list.cpus[first + low], lastCoreCpu) << "cores out of order";
      for (int t = 1; t < bits; ++t) EXPECT_LT(list.cpus[first + low + t - 1], list.cpus[first + low + t]);
      lastCoreCpu = list.cpus[first + low];
      seen |= record.ProcessorMask;
      got = {got[0] + bits, got[1] + 1, got[2] + (bits > 1), got[3]};
    }
    shapes.push_back(got);
  }
  return shapes;
}

// The counter-name table, split into its index/name pairs as a caller does.
inline std::map<std::string, DWORD> counterIndexes() {
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
inline std::vector<std::string> instancesOf(DWORD objectIndex, DWORD* objects) {
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

// Every processor's ~MHz through the registry and the snapshot's source, which must agree for all.
inline std::pair<long, std::string> ratedClockOfAll() {
  const auto snapshot = linuxLayer::processorSnapshot();
  std::pair<long, std::string> first{-9, "no processors"};
  for (int n = 0; n < snapshot->list.count(); ++n) {
    const std::pair<long, std::string> got{processorKeyValues(n).second,
                                           linuxLayer::clockSourceName(snapshot->rated[n].source)};
    if (n == 0) first = got;
    EXPECT_EQ(got, first) << "processor " << n;
  }
  return first;
}

}  // namespace testSupport
}  // namespace ps
