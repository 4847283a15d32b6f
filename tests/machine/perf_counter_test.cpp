#include "machine/perf_counter.h"

#include "platform/system_calls.h"

#include "recorded_machine.h"

namespace ps {
namespace {

typedef std::vector<uint8_t> _bytes;
typedef std::vector<std::pair<std::string, uint32_t>> _instances;  // name, frequency
typedef std::vector<std::pair<size_t, uint32_t>> _fields;          // offset, value

constexpr uint32_t objectIndex = 1848, frequencyIndex = 1850, frequency2Index = 1852, performanceIndex = 1860;
// Offsets in a block whose first object has two counters.
constexpr size_t firstObject = sizeof(PERF_DATA_BLOCK);
constexpr size_t secondCounter = firstObject + sizeof(PERF_OBJECT_TYPE) + sizeof(PERF_COUNTER_DEFINITION);
constexpr size_t firstInstance = secondCounter + sizeof(PERF_COUNTER_DEFINITION);

template <typename T>
void put(_bytes& out, size_t at, const T& value) {
  out.resize(std::max(out.size(), at + sizeof(value)));
  memcpy(out.data() + at, &value, sizeof(value));
}

_bytes with(_bytes out, const _fields& fields) {
  for (const auto& field : fields) put(out, field.first, field.second);
  return out;
}

_bytes utf16(const std::vector<std::string>& texts) {
  _bytes out;
  for (const std::string& text : texts)
    for (char c : text + '\0') put(out, out.size(), (uint16_t)(unsigned char)c);
  return out;
}

// One object as the system lays it out: header, counter definitions, then instances.
_bytes object(const _instances& instances, std::vector<uint32_t> counters = {performanceIndex, frequencyIndex},
             uint32_t index = objectIndex) {
  const DWORD n = (DWORD)counters.size();
  _bytes out;
  put(out, 0, PERF_OBJECT_TYPE{0, DWORD(sizeof(PERF_OBJECT_TYPE) + n * sizeof(PERF_COUNTER_DEFINITION)),
                               sizeof(PERF_OBJECT_TYPE), index, 0, 0, 0, 0, n, 0, (LONG)instances.size(), 0, 0, 0});
  for (DWORD j = 0; j < n; ++j)
    put(out, out.size(), PERF_COUNTER_DEFINITION{sizeof(PERF_COUNTER_DEFINITION), counters[j], 0, 0, 0, 0, 0, 0, 4,
                                                 8 + 4 * j});
  for (const auto& instance : instances) {
    const _bytes name = utf16({instance.first});
    put(out, out.size(), PERF_INSTANCE_DEFINITION{DWORD(sizeof(PERF_INSTANCE_DEFINITION) + name.size()), 0, 0, 0,
                                                  sizeof(PERF_INSTANCE_DEFINITION), 0});
    out.insert(out.end(), name.begin(), name.end());
    put(out, out.size(), (uint64_t)(8 + 4 * n));  // the counter block's length, then its values
    for (uint32_t counter : counters) put(out, out.size(), counter == performanceIndex ? 99u : instance.second);
  }
  return with(out, {{offsetof(PERF_OBJECT_TYPE, TotalByteLength), (DWORD)out.size()}});
}

_bytes block(const std::vector<_bytes>& objects) {
  _bytes out = with(_bytes(sizeof(PERF_DATA_BLOCK)), {{offsetof(PERF_DATA_BLOCK, HeaderLength), sizeof(PERF_DATA_BLOCK)},
                                                   {offsetof(PERF_DATA_BLOCK, NumObjectTypes), objects.size()}});
  for (const _bytes& o : objects) out.insert(out.end(), o.begin(), o.end());
  return out;
}

// The registry's answers; an empty name table cannot be read.
_bytes fakeTable, fakeData;

LSTATUS fakeQueryW(HKEY, LPCWSTR, DWORD*, DWORD*, BYTE* data, DWORD* size) {
  if (data) memcpy(data, fakeTable.data(), std::min<size_t>(*size, fakeTable.size()));
  *size = (DWORD)fakeTable.size();
  return fakeTable.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

LSTATUS fakeQueryA(HKEY, const char*, DWORD*, DWORD*, BYTE* data, DWORD* size) {
  if (*size < fakeData.size()) return ERROR_MORE_DATA;
  memcpy(data, fakeData.data(), *size = (DWORD)fakeData.size());
  return ERROR_SUCCESS;
}

class PerfCounter : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeTable = utf16({"1848", "Processor Information", "1850", "Processor Frequency", "1860",
                       "% Processor Performance", "1852", "Processor Frequency", "1234567890123", "Long", "5", "Cut"});
    fakeTable.resize(fakeTable.size() - 4);  // the last name loses its end
  }
  size_t countOf(uint32_t value) const { return std::count(frequency, frequency + maxRecordedProcessors, value); }
  void reset() {
    info->errorText.clear();
    std::fill(frequency, frequency + maxRecordedProcessors, 9999u);
  }
  // A registry walk that fails with the error, the array then all `left`.
  void fails(const char* error, uint32_t left) {
    reset();
    EXPECT_FALSE(getCorePercentage(*info, frequency));
    EXPECT_STREQ(error, info->errorText.text);
    EXPECT_EQ(512u, countOf(left));
  }
  // An exact-size copy, so that a read past the end is an address-sanitizer error.
  bool walk(const _bytes& data) {
    reset();
    const _bytes exact(data);
    return readFrequencies(exact.data(), exact.size(), objectIndex, frequencyIndex, frequency2Index, performanceIndex, frequency,
                           info->errorText);
  }

  const _replacedSystemCalls replaced{{realSystemCalls.getTickCount, realSystemCalls.sleep, fakeQueryW, fakeQueryA,
                                       realSystemCalls.formatMessageA}};
  const std::unique_ptr<_cpuInfo> info{newCpuInfo()};
  uint32_t frequency[maxRecordedProcessors];
};

TEST_F(PerfCounter, ThroughTheRegistry) {
  _byteBuffer table;
  ASSERT_TRUE(readCounterNames(table));
  EXPECT_EQ(1852, findSecondCounterIndex(table, "Processor Frequency"));
  EXPECT_EQ(-1, findSecondCounterIndex(table, "Long"));
  EXPECT_EQ(1234567890, findCounterIndex(table, "Long"));  // index digits past the tenth are dropped
  EXPECT_EQ(-1, findCounterIndex(table, "Cut"));

  // Object P comes second; its frequency counter carries the second index.
  fakeData = block({object({{"0,0", 1}}, {performanceIndex, frequencyIndex}, 238),
                    object({{"0,0", 3100}, {"0,1", 3200}, {"0,_Total", 1}}, {frequency2Index, performanceIndex})});
  EXPECT_TRUE(getCorePercentage(*info, frequency));
  EXPECT_TRUE(frequency[0] == 3100 && frequency[1] == 3200 && countOf(0) == 510);
  EXPECT_STREQ("", info->errorText.text);

  // Too big for the one answer: no second try, and the array is left zero.
  fakeData.resize(264001);
  fails("getCorePercentage: RegQueryValueExA more data. Requesting 264000 Bytes. Count:3000;  \n", 0);
  // A name past the returned bytes lies within the buffer, not the data.
  fakeData =
      with(block({object({{"0,0", 3000}})}), {{firstInstance + offsetof(PERF_INSTANCE_DEFINITION, NameOffset), 999}});
  fails(perfDataMalformedText, 0);
  fakeTable.clear();  // the array is left as it was
  fails("getCorePercentage: Required counter PROCESSOR_Information_INDEX not found", 9999);
}

// Stored frequencies equal their flat index; the others keep 9999, or all are zero after a malformed block.
TEST_F(PerfCounter, WalkOverBlocks) {
  const _instances one = {{"0,0", 0}};
  const std::string noData = "getCorePercentage: Required data not available", bad = perfDataMalformedText;
  const _bytes good = block({object({{"0,0", 3000}, {"0,1", 3100}, {"0,_Total", 1}})});
  std::vector<std::tuple<_bytes, std::string, std::vector<int>>> cases = {
      {block({}), "getCorePercentage: Required counter not available", {}},
      {block({object(one, {performanceIndex, frequencyIndex}, 238)}), "", {}},  // no object P
      {block({object(one, {performanceIndex})}), noData, {}},
      {block({object(one, {frequencyIndex})}), noData, {}},
      {block({object({})}), noData, {}},
      {with(block({object(one)}), {{firstObject + offsetof(PERF_OBJECT_TYPE, NumInstances), PERF_NO_INSTANCES}}),
       noData, {}},
      {block({object({{"0,_Total", 1}, {"_Total", 2}, {"_TOTAL", 3}})}), "", {}},
      // Group by group, as the system lists them; maxCores rises before the index is formed.
      {block({object({{"5", 5}, {"0,0", 0}, {"0,7", 7}, {"0,_Total", 1}, {"1,0", 8}, {"1,3", 11}, {"1,_Total", 1},
                       {"1,9", 19}})}), "", {5, 0, 7, 8, 11, 19}},
      // Indices out of range are skipped, and huge numbers do not wrap.
      {block({object({{"0,511", 511}, {"0,512", 1}, {"1,0", 1}, {"-1", 1}, {"99999999999", 1},
                       {"2147483647,2147483647", 1}, {"0,3", 3}})}), "", {511, 3}},
      // Fields pointing outside the block, and endless empty objects before P.
      {with(good, {{offsetof(PERF_DATA_BLOCK, HeaderLength), 0xFFFFFFF0u}}), bad, {}},
      {with(good, {{firstObject + offsetof(PERF_OBJECT_TYPE, NumInstances), 0x7FFFFFFFu}}), bad, {}},
      {with(good, {{secondCounter + offsetof(PERF_COUNTER_DEFINITION, CounterOffset), ~3u}}), bad, {}},
      {with(good, {{firstInstance + offsetof(PERF_INSTANCE_DEFINITION, NameOffset), ~0u}}), bad, {}},
      {with(good, {{offsetof(PERF_DATA_BLOCK, NumObjectTypes), ~0u},
                   {firstObject + offsetof(PERF_OBJECT_TYPE, ObjectNameTitleIndex), 1u},
                   {firstObject + offsetof(PERF_OBJECT_TYPE, TotalByteLength), 0u}}),
       bad, {}},
  };
  for (size_t size = 0; size < good.size(); ++size) cases.push_back({_bytes(&good[0], &good[size]), bad, {}});
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& [data, error, stored] = cases[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(!stored.empty(), walk(data));
    EXPECT_STREQ(error.c_str(), info->errorText.text);
    for (int at : stored) EXPECT_EQ((uint32_t)at, frequency[at]);
    EXPECT_EQ(maxRecordedProcessors - stored.size(), countOf(error == bad ? 0 : 9999));
  }
}

}  // namespace
}  // namespace ps
