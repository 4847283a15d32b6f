#include "machine/perf_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ps {
namespace {

typedef std::vector<uint8_t> Bytes;
typedef std::vector<std::pair<std::string, uint32_t>> Instances;  // name, frequency

// Counter indices of the synthetic machine.
constexpr uint32_t kObject = 1848, kFrequency = 1850, kFrequency2 = 1852, kPerformance = 1860;
constexpr size_t kFirstObject = sizeof(PERF_DATA_BLOCK), kFirstCounter = kFirstObject + sizeof(PERF_OBJECT_TYPE);
constexpr size_t kFirstInstance = kFirstCounter + 2 * sizeof(PERF_COUNTER_DEFINITION);

template <typename T>
void put(Bytes& out, size_t at, const T& value) {
  out.resize(std::max(out.size(), at + sizeof(value)));
  memcpy(out.data() + at, &value, sizeof(value));
}

// NUL-terminated UTF-16 strings, the last one padded to a multiple of align bytes.
Bytes utf16(const std::vector<std::string>& texts, size_t align = 2) {
  Bytes out;
  for (const std::string& text : texts)
    for (char c : text + '\0') put(out, out.size(), (uint16_t)(unsigned char)c);
  out.resize((out.size() + align - 1) / align * align);
  return out;
}

// One object as the system lays it out: header, counter definitions, then
// each instance with its name and counter block.
Bytes object(const Instances& instances, std::vector<uint32_t> counters = {kPerformance, kFrequency},
             uint32_t index = kObject, LONG instanceCount = INT32_MIN) {
  const DWORD n = (DWORD)counters.size();
  const LONG count = instanceCount == INT32_MIN ? (LONG)instances.size() : instanceCount;
  Bytes out;
  put(out, 0, PERF_OBJECT_TYPE{0, DWORD(sizeof(PERF_OBJECT_TYPE) + n * sizeof(PERF_COUNTER_DEFINITION)),
                               sizeof(PERF_OBJECT_TYPE), index, 0, 0, 0, 0, n, 0, count, 0, 0, 0});
  for (DWORD j = 0; j < n; ++j)
    put(out, out.size(), PERF_COUNTER_DEFINITION{sizeof(PERF_COUNTER_DEFINITION), counters[j], 0, 0, 0, 0, 0, 0, 4,
                                                 8 + 4 * j});
  for (const auto& instance : instances) {
    const Bytes name = utf16({instance.first}, 8);
    put(out, out.size(), PERF_INSTANCE_DEFINITION{DWORD(sizeof(PERF_INSTANCE_DEFINITION) + name.size()), 0, 0, 0,
                                                  sizeof(PERF_INSTANCE_DEFINITION), 0});
    out.insert(out.end(), name.begin(), name.end());
    put(out, out.size(), (uint64_t)(8 + 4 * n));  // the counter block's length, then its values
    for (uint32_t counter : counters) put(out, out.size(), counter == kPerformance ? 99u : instance.second);
  }
  put(out, offsetof(PERF_OBJECT_TYPE, TotalByteLength), (DWORD)out.size());
  return out;
}

Bytes block(const std::vector<Bytes>& objects) {
  Bytes out(sizeof(PERF_DATA_BLOCK));
  put(out, offsetof(PERF_DATA_BLOCK, HeaderLength), (DWORD)sizeof(PERF_DATA_BLOCK));
  put(out, offsetof(PERF_DATA_BLOCK, NumObjectTypes), (DWORD)objects.size());
  for (const Bytes& o : objects) out.insert(out.end(), o.begin(), o.end());
  return out;
}

// The registry as the tests want it; an empty name table cannot be read.
Bytes fakeTable, fakeData;

LSTATUS fakeQueryW(HKEY, LPCWSTR, DWORD*, DWORD*, BYTE* data, DWORD* size) {
  if (fakeTable.empty() || (data && *size < fakeTable.size())) return ERROR_FILE_NOT_FOUND;
  if (data) memcpy(data, fakeTable.data(), fakeTable.size());
  *size = (DWORD)fakeTable.size();
  return ERROR_SUCCESS;
}

LSTATUS fakeQueryA(HKEY, const char*, DWORD*, DWORD*, BYTE* data, DWORD* size) {
  if (*size < fakeData.size()) return ERROR_MORE_DATA;
  memcpy(data, fakeData.data(), *size = (DWORD)fakeData.size());
  return ERROR_SUCCESS;
}

class PerfCounter : public ::testing::Test {
 protected:
  void SetUp() override {
    perfQueryValueW = fakeQueryW;
    perfQueryValueA = fakeQueryA;
    fakeTable = utf16({"1848", "Processor Information", "1850", "Processor Frequency", "1860",
                       "% Processor Performance", "1852", "Processor Frequency"});
  }
  void TearDown() override { perfQueryValueW = savedW; perfQueryValueA = savedA; }
  size_t countOf(uint32_t value) const { return std::count(frequency, frequency + maxRecordedProcessors, value); }
  std::string errors() const { return info->errorText.text; }
  // The walk over an exact-size heap copy, so that a read past the end is an
  // address-sanitizer error rather than a read of vector slack.
  bool walk(const Bytes& data) {
    info->errorText.clear();
    std::fill(frequency, frequency + maxRecordedProcessors, 7u);
    const std::unique_ptr<uint8_t[]> exact(data.empty() ? nullptr : new uint8_t[data.size()]);
    if (exact) memcpy(exact.get(), data.data(), data.size());
    return readFrequencies(exact.get(), data.size(), kObject, kFrequency, kFrequency2, kPerformance, frequency,
                           info->errorText);
  }

  const registryQueryWFunction savedW = perfQueryValueW;
  const registryQueryAFunction savedA = perfQueryValueA;
  const std::unique_ptr<_cpuInfo> info{newCpuInfo()};
  uint32_t frequency[maxRecordedProcessors];
};

TEST_F(PerfCounter, CounterNameLookups) {
  fakeTable =
      utf16({"1850", "Processor Frequency", "1852", "Processor Frequency", "1234567890123", "Long", "5", "Cut"});
  fakeTable.resize(fakeTable.size() - 4);  // the last name loses its end
  _byteBuffer table;
  ASSERT_TRUE(readCounterNames(table));
  EXPECT_EQ(1852, findSecondCounterIndex(table, "Processor Frequency"));
  EXPECT_EQ(-1, findSecondCounterIndex(table, "Long"));
  EXPECT_EQ(-1, findCounterIndex(table, "processor frequency"));  // exact names only
  EXPECT_EQ(-1, findCounterIndex(table, "Processor"));
  EXPECT_EQ(1234567890, findCounterIndex(table, "Long"));  // index digits past the tenth are dropped
  EXPECT_EQ(-1, findCounterIndex(table, "Cut"));
}

TEST_F(PerfCounter, ThroughTheRegistry) {
  // Object P comes second, and its frequency counter carries the second index.
  fakeData = block({object({{"0,0", 1}}, {kPerformance, kFrequency}, 238),
                    object({{"0,0", 3100}, {"0,1", 3200}, {"0,_Total", 1}}, {kFrequency2, kPerformance})});
  EXPECT_TRUE(getCorePercentage(*info, frequency));
  EXPECT_TRUE(frequency[0] == 3100 && frequency[1] == 3200 && countOf(0) == 510);
  EXPECT_EQ("", errors());

  // Too big for the one answer: no second try, and the array is left zero.
  fakeData.resize(264001);
  std::fill(frequency, frequency + maxRecordedProcessors, 7u);
  EXPECT_FALSE(getCorePercentage(*info, frequency));
  EXPECT_EQ("getCorePercentage: RegQueryValueExA more data. Requesting 264000 Bytes. Count:3000;  \n", errors());
  EXPECT_EQ(512u, countOf(0));

  // A name just past the returned bytes lies within the buffer, not the data.
  info->errorText.clear();
  fakeData = block({object({{"0,0", 3000}})});
  put(fakeData, kFirstInstance + offsetof(PERF_INSTANCE_DEFINITION, NameOffset), (DWORD)fakeData.size());
  EXPECT_FALSE(getCorePercentage(*info, frequency));
  EXPECT_EQ(perfDataMalformedText, errors());

  // A counter missing from the name table, or no table at all: the array is left as it was.
  frequency[0] = 7;
  info->errorText.clear();
  for (Bytes table : {utf16({"1848", "Processor Information", "1850", "Processor Frequency"}), Bytes()}) {
    fakeTable = table;
    EXPECT_FALSE(getCorePercentage(*info, frequency));
    EXPECT_EQ(7u, frequency[0]);
  }
  EXPECT_EQ("getCorePercentage: Required counter Performance_INDEX not found"
            "getCorePercentage: Required counter PROCESSOR_Information_INDEX not found",
            errors());
}

TEST_F(PerfCounter, BlocksWithoutUsableData) {
  const Instances one = {{"0,0", 3000}};
  const std::string noData = "getCorePercentage: Required data not available";
  const std::pair<Bytes, std::string> cases[] = {
      {block({}), "getCorePercentage: Required counter not available"},
      {block({object(one, {kPerformance, kFrequency}, 238)}), ""},  // no object P
      {block({object(one, {kPerformance})}), noData},
      {block({object(one, {kFrequency})}), noData},
      {block({object({})}), noData},
      {block({object({}, {kPerformance, kFrequency}, kObject, PERF_NO_INSTANCES)}), noData},
      {block({object({{"0,_Total", 1}, {"_Total", 2}, {"_TOTAL", 3}})}), ""},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(walk(c.first)) << &c - cases;
    EXPECT_EQ(c.second, errors());
    EXPECT_EQ(512u, countOf(7)) << &c - cases;
  }
}

TEST_F(PerfCounter, InstanceNamesMapToFlatIndices) {
  Instances twoGroups;  // listed group by group, as the system does
  for (std::string group : {"0,", "1,"}) {
    for (char core = '0'; core < '8'; ++core) twoGroups.push_back({group + core, 1u});
    twoGroups.push_back({group + "_Total", 2u});
  }
  twoGroups[12].second = 1300;  // "1,3"
  const struct {
    Instances instances;
    std::vector<std::pair<int, uint32_t>> stored;
    size_t storedCount;
  } cases[] = {
      {twoGroups, {{0, 1}, {8, 1}, {11, 1300}, {15, 1}}, 16},
      {{{"5", 55}}, {{5, 55}}, 1},
      // maxCores rises before the index is formed.
      {{{"0,0", 10}, {"0,1", 11}, {"1,0", 12}, {"1,3", 13}, {"0,5", 14}}, {{2, 12}, {7, 13}, {5, 14}}, 5},
      // Indices out of range are skipped, and huge numbers do not wrap.
      {{{"0,511", 511}, {"0,512", 512}, {"1,0", 600}, {"-1", 9}, {"99999999999", 1}, {"2147483647,2147483647", 2},
        {"0,3", 3}},
       {{511, 511}, {3, 3}},
       2},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(walk(block({object(c.instances)})));
    for (const auto& e : c.stored) EXPECT_EQ(e.second, frequency[e.first]) << "index " << e.first;
    EXPECT_EQ(512 - c.storedCount, countOf(7)) << &c - cases;
  }
}

TEST_F(PerfCounter, MalformedBlocksAreRejectedWithoutReadingPastTheEnd) {
  const Bytes good = block({object({{"0,0", 3000}, {"0,1", 3100}, {"0,_Total", 1}})});
  std::vector<Bytes> bad;
  for (size_t size = 0; size < good.size(); ++size) bad.emplace_back(good.begin(), good.begin() + size);
  const std::pair<size_t, uint32_t> fields[] = {
      {offsetof(PERF_DATA_BLOCK, HeaderLength), 0xFFFFFFF0u},
      {kFirstObject + offsetof(PERF_OBJECT_TYPE, NumCounters), 0xFFFFFFFFu},
      {kFirstObject + offsetof(PERF_OBJECT_TYPE, NumInstances), 0x7FFFFFFFu},
      {kFirstCounter + sizeof(PERF_COUNTER_DEFINITION) + offsetof(PERF_COUNTER_DEFINITION, CounterOffset), ~3u},
      {kFirstInstance + offsetof(PERF_INSTANCE_DEFINITION, NameOffset), 0xFFFFFFFFu},
  };
  for (const auto& field : fields) {
    bad.push_back(good);
    put(bad.back(), field.first, field.second);
  }
  bad.push_back(good);  // endless empty objects before P
  put(bad.back(), offsetof(PERF_DATA_BLOCK, NumObjectTypes), 0xFFFFFFFFu);
  put(bad.back(), kFirstObject + offsetof(PERF_OBJECT_TYPE, ObjectNameTitleIndex), 1u);
  put(bad.back(), kFirstObject + offsetof(PERF_OBJECT_TYPE, TotalByteLength), 0u);
  for (const Bytes& data : bad) {
    EXPECT_FALSE(walk(data)) << &data - bad.data();
    EXPECT_EQ(perfDataMalformedText, errors()) << &data - bad.data();
    EXPECT_EQ(512u, countOf(0)) << &data - bad.data();
  }
}

}  // namespace
}  // namespace ps
