#include "machine/perf_counter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/error_text.h"

namespace ps {
namespace {

// Counter indices of the synthetic machine.
constexpr uint32_t kObject = 1848, kFrequency = 1850, kFrequency2 = 1852, kPerformance = 1860;

typedef std::vector<std::pair<std::string, std::string>> counterTable;

std::vector<uint8_t> utf16(const std::string& text) {
  std::vector<uint8_t> out;
  for (unsigned char c : text) {
    out.push_back(c);
    out.push_back(0);
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::vector<uint8_t> buildTable(const counterTable& entries) {
  std::vector<uint8_t> out;
  for (const auto& entry : entries) {
    std::vector<uint8_t> index = utf16(entry.first), name = utf16(entry.second);
    out.insert(out.end(), index.begin(), index.end());
    out.insert(out.end(), name.begin(), name.end());
  }
  return out;
}

const counterTable kFullTable = {{"1", "1847"},
                                 {"2", "System"},
                                 {"1848", "Processor Information"},
                                 {"1850", "Processor Frequency"},
                                 {"1860", "% Processor Performance"},
                                 {"1852", "Processor Frequency"}};

struct instanceSpec {
  std::string name;
  uint32_t frequency;
};

struct objectSpec {
  uint32_t index = kObject;
  std::vector<uint32_t> counters = {kPerformance, kFrequency};
  std::vector<instanceSpec> instances;
  bool overrideCount = false;
  int32_t instanceCount = 0;
};

template <typename T>
void put(std::vector<uint8_t>& out, size_t at, const T& value) {
  memcpy(out.data() + at, &value, sizeof(value));
}

// A performance-data block laid out as the system publishes it.
std::vector<uint8_t> buildBlock(const std::vector<objectSpec>& objects) {
  std::vector<uint8_t> out(sizeof(PERF_DATA_BLOCK));
  PERF_DATA_BLOCK header = {};
  header.HeaderLength = sizeof(PERF_DATA_BLOCK);
  header.NumObjectTypes = (DWORD)objects.size();
  for (const objectSpec& spec : objects) {
    size_t object = out.size();
    size_t counters = spec.counters.size();
    out.resize(object + sizeof(PERF_OBJECT_TYPE) + counters * sizeof(PERF_COUNTER_DEFINITION));
    PERF_OBJECT_TYPE type = {};
    type.HeaderLength = sizeof(PERF_OBJECT_TYPE);
    type.DefinitionLength = (DWORD)(out.size() - object);
    type.ObjectNameTitleIndex = spec.index;
    type.NumCounters = (DWORD)counters;
    type.NumInstances = spec.overrideCount ? spec.instanceCount : (LONG)spec.instances.size();
    for (size_t j = 0; j < counters; ++j) {
      PERF_COUNTER_DEFINITION definition = {};
      definition.ByteLength = sizeof(PERF_COUNTER_DEFINITION);
      definition.CounterNameTitleIndex = spec.counters[j];
      definition.CounterSize = 4;
      definition.CounterOffset = (DWORD)(8 + 4 * j);
      put(out, object + sizeof(PERF_OBJECT_TYPE) + j * sizeof(PERF_COUNTER_DEFINITION), definition);
    }
    for (const instanceSpec& instance : spec.instances) {
      std::vector<uint8_t> name = utf16(instance.name);
      name.resize((name.size() + 7) / 8 * 8);
      size_t at = out.size();
      PERF_INSTANCE_DEFINITION definition = {};
      definition.ByteLength = (DWORD)(sizeof(PERF_INSTANCE_DEFINITION) + name.size());
      definition.NameOffset = sizeof(PERF_INSTANCE_DEFINITION);
      definition.NameLength = (DWORD)(2 * instance.name.size() + 2);
      out.resize(at + definition.ByteLength + 8 + 4 * counters);
      put(out, at, definition);
      memcpy(out.data() + at + sizeof(PERF_INSTANCE_DEFINITION), name.data(), name.size());
      size_t block = at + definition.ByteLength;
      put(out, block, (DWORD)(8 + 4 * counters));
      for (size_t j = 0; j < counters; ++j) {
        bool frequency = spec.counters[j] == kFrequency || spec.counters[j] == kFrequency2;
        put(out, block + 8 + 4 * j, frequency ? instance.frequency : (DWORD)99);
      }
    }
    type.TotalByteLength = (DWORD)(out.size() - object);
    put(out, object, type);
  }
  header.TotalByteLength = (DWORD)out.size();
  put(out, 0, header);
  return out;
}

objectSpec processors(std::vector<instanceSpec> instances) {
  objectSpec spec;
  spec.instances = std::move(instances);
  return spec;
}

// The registry as the tests want it.
std::vector<uint8_t> fakeTable;
LSTATUS fakeTableResult = 0;
std::vector<uint8_t> fakeData;
LSTATUS fakeDataResult = 0;
std::string lastValueName;

LSTATUS fakeQueryW(HKEY key, LPCWSTR, DWORD*, DWORD*, BYTE* data, DWORD* size) {
  if (key != HKEY_PERFORMANCE_TEXT) return ERROR_INVALID_HANDLE;
  if (fakeTableResult != 0) return fakeTableResult;
  if (data && *size < fakeTable.size()) return ERROR_MORE_DATA;
  if (data && !fakeTable.empty()) memcpy(data, fakeTable.data(), fakeTable.size());
  *size = (DWORD)fakeTable.size();
  return ERROR_SUCCESS;
}

LSTATUS fakeQueryA(HKEY key, const char* name, DWORD*, DWORD*, BYTE* data, DWORD* size) {
  if (key != HKEY_PERFORMANCE_DATA) return ERROR_INVALID_HANDLE;
  lastValueName = name;
  if (fakeDataResult != 0) return fakeDataResult;
  if (*size < fakeData.size()) {
    *size = (DWORD)fakeData.size();
    return ERROR_MORE_DATA;
  }
  memcpy(data, fakeData.data(), fakeData.size());
  *size = (DWORD)fakeData.size();
  return ERROR_SUCCESS;
}

class perfCounterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedW = perfQueryValueW;
    savedA = perfQueryValueA;
    perfQueryValueW = fakeQueryW;
    perfQueryValueA = fakeQueryA;
    fakeTable = buildTable(kFullTable);
    fakeTableResult = 0;
    fakeData.clear();
    fakeDataResult = 0;
    info = _cpuInfo();
    std::fill(frequency, frequency + maxRecordedProcessors, 7u);
  }
  void TearDown() override {
    perfQueryValueW = savedW;
    perfQueryValueA = savedA;
  }
  bool untouched() const {
    for (uint32_t f : frequency)
      if (f != 7u) return false;
    return true;
  }
  bool allZero() const {
    for (uint32_t f : frequency)
      if (f != 0) return false;
    return true;
  }
  // Runs the walk over an exact-size copy, so a read past the end is an
  // address-sanitizer error rather than a read of vector slack.
  bool walk(const std::vector<uint8_t>& block, int F2 = (int)kFrequency2) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[block.size() + 1]);
    if (!block.empty()) memcpy(exact.get(), block.data(), block.size());
    return readFrequencies(block.empty() ? nullptr : exact.get(), block.size(), kObject, kFrequency, F2,
                           kPerformance, frequency, info.errorText);
  }
  std::string errors() const { return info.errorText.text; }

  registryQueryWFunction savedW;
  registryQueryAFunction savedA;
  _cpuInfo info;
  uint32_t frequency[maxRecordedProcessors];
};

TEST(byteBufferTest, ReserveRefusesAboveLimitAndKeepsOrRenewsContent) {
  _byteBuffer buffer;
  EXPECT_FALSE(buffer.reserve(byteBufferLimit + 1, false));
  EXPECT_EQ(buffer.lastError, -100);
  ASSERT_TRUE(buffer.reserve(4, true));
  memcpy(buffer.block, "abcd", 4);
  ASSERT_TRUE(buffer.reserve(100, true));  // the counter-name table grows keeping its bytes
  EXPECT_EQ(memcmp(buffer.block, "abcd", 4), 0);
  EXPECT_EQ(buffer.lastError, 0);
  ASSERT_TRUE(buffer.reserve(200, false));  // the data buffer starts afresh
  EXPECT_EQ(buffer.block[0], 0);
  EXPECT_EQ(buffer.capacity, 200);
}

TEST(byteBufferTest, ReadStopsAtReadableLengthNotCapacity) {
  _byteBuffer buffer;
  ASSERT_TRUE(buffer.reserve(16, false));
  buffer.setReadableLength(6);
  uint8_t bytes[8];
  EXPECT_TRUE(buffer.read(bytes, 4));
  EXPECT_FALSE(buffer.read(bytes, 4));
  EXPECT_EQ(buffer.readPosition, 4u);
  EXPECT_FALSE(buffer.read(bytes, -1));
  EXPECT_TRUE(buffer.read(bytes, 2));
  buffer.setReadableLength(1000);  // never beyond the block
  EXPECT_EQ(buffer.readableLength, 16u);
}

TEST_F(perfCounterTest, CounterLookupsMatchExactNamesInOrder) {
  _byteBuffer table;
  ASSERT_TRUE(readCounterNames(table));
  EXPECT_EQ(findCounterIndex(table, "Processor Information"), 1848);
  EXPECT_EQ(findCounterIndex(table, "Processor Frequency"), 1850);
  EXPECT_EQ(findSecondCounterIndex(table, "Processor Frequency"), 1852);
  EXPECT_EQ(findSecondCounterIndex(table, "Processor Information"), -1);
  EXPECT_EQ(findCounterIndex(table, "processor frequency"), -1);
  EXPECT_EQ(findCounterIndex(table, "Processor"), -1);
  EXPECT_EQ(findSecondCounterIndex(table, "Nowhere"), -1);
}

TEST_F(perfCounterTest, CounterTableEdgesEndTheLookupCleanly) {
  // Index digits beyond 10 units are dropped; a name cut by the table's end is no entry.
  std::vector<uint8_t> table = buildTable({{"1234567890123", "Long"}, {"5", "Cut"}});
  table.resize(table.size() - 4);
  fakeTable = table;
  _byteBuffer buffer;
  ASSERT_TRUE(readCounterNames(buffer));
  EXPECT_EQ(findCounterIndex(buffer, "Long"), 1234567890);
  EXPECT_EQ(findCounterIndex(buffer, "Cut"), -1);

  fakeTableResult = ERROR_ACCESS_DENIED;
  _byteBuffer unreadable;
  EXPECT_FALSE(readCounterNames(unreadable));
  EXPECT_EQ(findCounterIndex(unreadable, "Long"), -1);
}

TEST_F(perfCounterTest, MissingCounterNamesLeaveTheArrayUntouched) {
  struct {
    const char* dropped;
    const char* message;
  } cases[] = {
      {"Processor Information", "getCorePercentage: Required counter PROCESSOR_Information_INDEX not found"},
      {"Processor Frequency", "getCorePercentage: Required counter Frequency_INDEX not found"},
      {"% Processor Performance", "getCorePercentage: Required counter Performance_INDEX not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dropped);
    counterTable entries;
    for (const auto& entry : kFullTable)
      if (entry.second != c.dropped) entries.push_back(entry);
    fakeTable = buildTable(entries);
    info.errorText.clear();
    EXPECT_FALSE(getCorePercentage(info, frequency));
    EXPECT_EQ(errors(), c.message);
    EXPECT_TRUE(untouched());
  }
}

TEST_F(perfCounterTest, QueryFailuresAreWordedAndLeaveTheArrayZero) {
  fakeData = buildBlock({processors({{"0,0", 3000}})});
  fakeData.resize(264001);
  EXPECT_FALSE(getCorePercentage(info, frequency));
  EXPECT_EQ(lastValueName, "1848");
  EXPECT_EQ(errors(), "getCorePercentage: RegQueryValueExA more data. Requesting 264000 Bytes. Count:3000;  \n");
  EXPECT_TRUE(allZero());

  fakeDataResult = ERROR_ACCESS_DENIED;
  info.errorText.clear();
  EXPECT_FALSE(getCorePercentage(info, frequency));
  _fixedString<250> message;
  systemErrorText(message, ERROR_ACCESS_DENIED);
  EXPECT_EQ(errors(), std::string("getCorePercentage: RegQueryValueExA ") + message.text + ";  \n");
}

TEST_F(perfCounterTest, MoreDataNamesTheWellKnownObjects) {
  fakeDataResult = ERROR_MORE_DATA;
  struct {
    int index;
    const char* text;
  } cases[] = {{6, "RegQueryValueExA more data. Requesting CPU time. 264000 Bytes. Count:3000;  "},
               {230, "RegQueryValueExA more data. Requesting Process obj. 264000 Bytes. Count:3000;  "},
               {238, "RegQueryValueExA more data. Requesting CPU obj. 264000 Bytes. Count:3000;  "},
               {239, "RegQueryValueExA more data. Requesting 264000 Bytes. Count:3000;  "}};
  for (const auto& c : cases) {
    _perfDataRequest request;
    ASSERT_TRUE(request.reserve(perfDataElements));
    _fixedString<500> text;
    EXPECT_FALSE(queryPerfObject(request, c.index, text));
    EXPECT_EQ(std::string(text.text), c.text);
  }
  _perfDataRequest empty;  // no block: no query, no text
  _fixedString<500> text;
  EXPECT_FALSE(queryPerfObject(empty, 238, text));
  EXPECT_TRUE(text.isEmpty());
}

TEST_F(perfCounterTest, ReadsEveryProcessorThroughTheRegistry) {
  fakeData = buildBlock({processors({{"0,0", 3100}, {"0,1", 3200}, {"0,_Total", 1}})});
  EXPECT_TRUE(getCorePercentage(info, frequency));
  EXPECT_EQ(frequency[0], 3100u);
  EXPECT_EQ(frequency[1], 3200u);
  EXPECT_EQ(frequency[2], 0u);
  EXPECT_TRUE(info.errorText.isEmpty());
}

TEST_F(perfCounterTest, BlockShapesWithoutUsableData) {
  objectSpec other = processors({{"0,0", 3000}});
  other.index = 238;
  objectSpec noFrequency = processors({{"0,0", 3000}});
  noFrequency.counters = {kPerformance};
  objectSpec noPerformance = processors({{"0,0", 3000}});
  noPerformance.counters = {kFrequency};
  objectSpec noCounters = processors({{"0,0", 3000}});
  noCounters.counters = {};
  objectSpec noInstances = processors({});
  objectSpec perfNoInstances = processors({});
  perfNoInstances.overrideCount = true;
  perfNoInstances.instanceCount = -1;
  objectSpec negative = processors({});
  negative.overrideCount = true;
  negative.instanceCount = -2;
  const char* notAvailable = "getCorePercentage: Required counter not available";
  const char* noData = "getCorePercentage: Required data not available";
  struct {
    const char* what;
    std::vector<objectSpec> objects;
    const char* message;
  } cases[] = {
      {"no objects", {}, notAvailable},
      {"object not P", {other}, ""},
      {"no frequency counter", {noFrequency}, noData},
      {"no performance counter", {noPerformance}, noData},
      {"no counters", {noCounters}, noData},
      {"no instances", {noInstances}, noData},
      {"PERF_NO_INSTANCES", {perfNoInstances}, noData},
      {"negative instance count", {negative}, ""},
      {"only totals", {processors({{"0,_Total", 1}, {"_Total", 2}, {"_TOTAL", 3}})}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    info.errorText.clear();
    std::fill(frequency, frequency + maxRecordedProcessors, 0u);
    EXPECT_FALSE(walk(buildBlock(c.objects)));
    EXPECT_EQ(errors(), c.message);
    EXPECT_TRUE(allZero());
  }
}

TEST_F(perfCounterTest, InstanceNamesMapToFlatIndices) {
  struct {
    const char* what;
    std::vector<instanceSpec> instances;
    std::vector<std::pair<int, uint32_t>> expected;
  } cases[] = {
      {"two groups of 8",
       {{"0,0", 1}, {"0,1", 1}, {"0,2", 1}, {"0,3", 1}, {"0,4", 1}, {"0,5", 1}, {"0,6", 1}, {"0,7", 1},
        {"0,_Total", 1}, {"1,0", 10}, {"1,1", 1}, {"1,2", 1}, {"1,3", 13}, {"1,_Total", 1}, {"_Total", 1}},
       {{8, 10}, {11, 13}}},
      {"no comma", {{"5", 55}}, {{5, 55}}},
      {"maxCores rises before the index is formed",
       {{"0,0", 1}, {"0,1", 2}, {"1,0", 3}, {"1,3", 5}, {"0,5", 4}},
       {{2, 3}, {7, 5}, {5, 4}}},
      {"index 512 or more skipped", {{"0,511", 511}, {"0,512", 512}, {"1,0", 600}, {"-1", 9}, {"0,3", 3}},
       {{511, 511}, {3, 3}}},
      {"huge numbers do not wrap", {{"99999999999", 1}, {"2147483647,2147483647", 2}, {"0,1", 44}}, {{1, 44}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::fill(frequency, frequency + maxRecordedProcessors, 0u);
    EXPECT_TRUE(walk(buildBlock({processors(c.instances)})));
    EXPECT_TRUE(info.errorText.isEmpty());
    for (const auto& e : c.expected) EXPECT_EQ(frequency[e.first], e.second) << "index " << e.first;
  }
}

TEST_F(perfCounterTest, EitherFrequencyIndexAndLaterObjectsCount) {
  objectSpec first = processors({{"0,0", 1}});
  first.index = 238;
  objectSpec second = processors({{"0,0", 2400}});
  second.counters = {kFrequency2, kPerformance};
  EXPECT_TRUE(walk(buildBlock({first, second})));
  EXPECT_EQ(frequency[0], 2400u);
  // With no second listing (-1) the other index is no frequency counter.
  info.errorText.clear();
  EXPECT_FALSE(walk(buildBlock({second}), -1));
  EXPECT_EQ(errors(), "getCorePercentage: Required data not available");
}

TEST_F(perfCounterTest, EveryTruncationIsRejectedWithoutReadingPastTheEnd) {
  std::vector<uint8_t> block = buildBlock({processors({{"0,0", 3000}, {"0,1", 3100}, {"0,_Total", 1}})});
  for (size_t size = 0; size < block.size(); ++size) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> cut(block.begin(), block.begin() + (long)size);
    info.errorText.clear();
    EXPECT_FALSE(walk(cut));
    EXPECT_EQ(errors(), perfDataMalformedText);
    EXPECT_TRUE(allZero());
  }
}

TEST_F(perfCounterTest, OffsetsAndCountsFromABadBlockAreRejected) {
  const std::vector<uint8_t> good = buildBlock({processors({{"0,0", 3000}, {"0,1", 3100}})});
  const size_t object = sizeof(PERF_DATA_BLOCK);
  const size_t definition = object + sizeof(PERF_OBJECT_TYPE);
  const size_t instance = definition + 2 * sizeof(PERF_COUNTER_DEFINITION);
  struct {
    const char* what;
    size_t at;
    uint32_t value;
  } cases[] = {
      {"header length past the end", offsetof(PERF_DATA_BLOCK, HeaderLength), 0xFFFFFFF0u},
      {"endless empty objects", offsetof(PERF_DATA_BLOCK, NumObjectTypes), 0xFFFFFFFFu},
      {"counter definitions past the end", object + offsetof(PERF_OBJECT_TYPE, HeaderLength), 0x7FFFFFFFu},
      {"endless counter definitions", object + offsetof(PERF_OBJECT_TYPE, NumCounters), 0xFFFFFFFFu},
      {"zero-length counter definition", definition + offsetof(PERF_COUNTER_DEFINITION, ByteLength), 0},
      {"counter value past the end", definition + sizeof(PERF_COUNTER_DEFINITION) +
                                         offsetof(PERF_COUNTER_DEFINITION, CounterOffset), 0xFFFFFFFCu},
      {"instances past the end", object + offsetof(PERF_OBJECT_TYPE, DefinitionLength), 0x10000000u},
      {"endless instances", object + offsetof(PERF_OBJECT_TYPE, NumInstances), 0x7FFFFFFFu},
      {"zero-length instance", instance + offsetof(PERF_INSTANCE_DEFINITION, ByteLength), 0},
      {"name past the end", instance + offsetof(PERF_INSTANCE_DEFINITION, NameOffset), 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bad = good;
    put(bad, c.at, c.value);
    if (c.at == offsetof(PERF_DATA_BLOCK, NumObjectTypes)) {
      put(bad, object + offsetof(PERF_OBJECT_TYPE, ObjectNameTitleIndex), (DWORD)1);
      put(bad, object + offsetof(PERF_OBJECT_TYPE, TotalByteLength), (DWORD)0);
    }
    info.errorText.clear();
    EXPECT_FALSE(walk(bad));
    EXPECT_EQ(errors(), perfDataMalformedText);
    EXPECT_TRUE(allZero());
  }
}

TEST_F(perfCounterTest, OnlyTheReturnedBytesAreRead) {
  // The name points just past what the query returned, inside the buffer.
  fakeData = buildBlock({processors({{"0,0", 3000}})});
  put(fakeData, sizeof(PERF_DATA_BLOCK) + sizeof(PERF_OBJECT_TYPE) + 2 * sizeof(PERF_COUNTER_DEFINITION) +
                    offsetof(PERF_INSTANCE_DEFINITION, NameOffset),
      (DWORD)(fakeData.size()));
  EXPECT_FALSE(getCorePercentage(info, frequency));
  EXPECT_EQ(errors(), perfDataMalformedText);
}

}  // namespace
}  // namespace ps
