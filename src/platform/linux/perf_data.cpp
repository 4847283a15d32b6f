#include "platform/linux/perf_data.h"

#include <strings.h>

#include <cstring>
#include <ctime>

#include "platform/linux/snapshot.h"
#include "platform/linux/utf16.h"

namespace ps {
namespace linuxLayer {

namespace {

// The counter block: its length word, "Processor Frequency", "% Processor
// Performance", padded to 8 bytes as Windows aligns counter data.
constexpr DWORD frequencyOffset = 4;
constexpr DWORD performanceOffset = 8;
constexpr DWORD counterBlockLength = 16;

struct _counterName {
  DWORD index;
  const char* name;
};

// A few of the standard Windows entries keep the usual indexes (6, 230, 238)
// so that lookups must pick the right ones.
const _counterName counterNames[] = {
    {1, "1850"},  // the table opens with the last index in use
    {2, "System"},
    {4, "Memory"},
    {6, "% Processor Time"},
    {230, "Process"},
    {238, "Processor"},
    {processorInformationIndex, "Processor Information"},
    {processorFrequencyIndex, "Processor Frequency"},
    {processorPerformanceIndex, "% Processor Performance"},
};

template <typename T>
void put(std::vector<BYTE>* out, size_t offset, const T& value) {
  std::memcpy(out->data() + offset, &value, sizeof(value));
}

size_t roundUp8(size_t n) { return (n + 7) & ~size_t{7}; }

struct _instanceValues {
  std::string name;
  DWORD frequency;
  DWORD performance;
};

// The average of the non-zero values: totals leave out processors whose
// clock is unknown.
DWORD averageKnown(const std::vector<_instanceValues>& values, size_t begin, size_t end,
                   DWORD _instanceValues::*field) {
  unsigned long long sum = 0, count = 0;
  for (size_t i = begin; i < end; ++i)
    if (values[i].*field > 0) sum += values[i].*field, ++count;
  return count == 0 ? 0 : static_cast<DWORD>((sum + count / 2) / count);
}

std::vector<_instanceValues> processorInstances() {
  const auto snapshot = processorSnapshot();
  const _processorList& list = snapshot->list;
  // The live clocks: cpuinfo changes with them, so it is read per call.
  _cpuinfoFile cpuinfo;
  readCpuinfo(&cpuinfo);
  std::vector<_instanceValues> perCpu;
  for (int logical = 0; logical < list.count(); ++logical) {
    const int current = currentMhz(cpuinfo, list.cpus[logical]);
    const int nominal = snapshot->rated[logical].mhz;
    const int group = list.groupOf(logical);
    _instanceValues v;
    v.name = std::to_string(group) + "," + std::to_string(logical - list.groupStart(group));
    v.frequency = current > 0 ? static_cast<DWORD>(current) : 0;
    v.performance = current > 0 && nominal > 0
                        ? static_cast<DWORD>((current * 100ll + nominal / 2) / nominal)
                        : 0;
    perCpu.push_back(v);
  }

  // Windows lists each group's processors followed by "g,_Total", and the
  // overall "_Total" last.
  std::vector<_instanceValues> instances;
  for (int group = 0; group < list.groupCount(); ++group) {
    const size_t begin = static_cast<size_t>(list.groupStart(group));
    const size_t end = begin + static_cast<size_t>(list.groupSize(group));
    instances.insert(instances.end(), perCpu.begin() + begin, perCpu.begin() + end);
    instances.push_back({std::to_string(group) + ",_Total",
                         averageKnown(perCpu, begin, end, &_instanceValues::frequency),
                         averageKnown(perCpu, begin, end, &_instanceValues::performance)});
  }
  instances.push_back({"_Total", averageKnown(perCpu, 0, perCpu.size(), &_instanceValues::frequency),
                       averageKnown(perCpu, 0, perCpu.size(), &_instanceValues::performance)});
  return instances;
}

void appendProcessorObject(std::vector<BYTE>* out, int64_t perfTime, int64_t perfFreq) {
  const size_t objectStart = out->size();
  const std::vector<_instanceValues> instances = processorInstances();
  const DWORD definitionLength = sizeof(PERF_OBJECT_TYPE) + 2 * sizeof(PERF_COUNTER_DEFINITION);
  out->resize(objectStart + definitionLength);

  PERF_OBJECT_TYPE object;
  std::memset(&object, 0, sizeof(object));
  object.DefinitionLength = definitionLength;
  object.HeaderLength = sizeof(PERF_OBJECT_TYPE);
  object.ObjectNameTitleIndex = processorInformationIndex;
  object.ObjectHelpTitleIndex = processorInformationIndex + 1;
  object.DetailLevel = PERF_DETAIL_NOVICE;
  object.NumCounters = 2;
  object.DefaultCounter = 0;
  object.NumInstances = static_cast<LONG>(instances.size());
  object.CodePage = 0;  // instance names are UTF-16
  object.PerfTime = perfTime;
  object.PerfFreq = perfFreq;

  const DWORD counterIndexes[2] = {processorFrequencyIndex, processorPerformanceIndex};
  const DWORD counterOffsets[2] = {frequencyOffset, performanceOffset};
  for (int i = 0; i < 2; ++i) {
    PERF_COUNTER_DEFINITION counter;
    std::memset(&counter, 0, sizeof(counter));
    counter.ByteLength = sizeof(PERF_COUNTER_DEFINITION);
    counter.CounterNameTitleIndex = counterIndexes[i];
    counter.CounterHelpTitleIndex = counterIndexes[i] + 1;
    counter.DetailLevel = PERF_DETAIL_NOVICE;
    counter.CounterType = PERF_COUNTER_RAWCOUNT;
    counter.CounterSize = sizeof(DWORD);
    counter.CounterOffset = counterOffsets[i];
    put(out, objectStart + sizeof(PERF_OBJECT_TYPE) + i * sizeof(counter), counter);
  }

  for (const _instanceValues& v : instances) {
    const size_t start = out->size();
    const std::u16string name = utf16FromUtf8(v.name);
    const DWORD nameLength = static_cast<DWORD>((name.size() + 1) * sizeof(char16_t));
    const DWORD byteLength = static_cast<DWORD>(roundUp8(sizeof(PERF_INSTANCE_DEFINITION) + nameLength));
    out->resize(start + byteLength + counterBlockLength, 0);
    PERF_INSTANCE_DEFINITION instance;
    std::memset(&instance, 0, sizeof(instance));
    instance.ByteLength = byteLength;
    instance.UniqueID = -1;  // PERF_NO_UNIQUE_ID: instances go by name
    instance.NameOffset = sizeof(PERF_INSTANCE_DEFINITION);
    instance.NameLength = nameLength;
    put(out, start, instance);
    std::memcpy(out->data() + start + sizeof(instance), name.c_str(), nameLength);
    const size_t block = start + byteLength;
    put(out, block, counterBlockLength);
    put(out, block + frequencyOffset, v.frequency);
    put(out, block + performanceOffset, v.performance);
  }

  object.TotalByteLength = static_cast<DWORD>(out->size() - objectStart);
  put(out, objectStart, object);
}

bool wantsProcessorObject(const std::string& valueName) {
  const std::string wanted = std::to_string(processorInformationIndex);
  size_t start = 0;
  while (start < valueName.size()) {
    size_t end = valueName.find(' ', start);
    if (end == std::string::npos) end = valueName.size();
    const std::string item = valueName.substr(start, end - start);
    if (item == wanted || strcasecmp(item.c_str(), "Global") == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string counterNameTable() {
  std::string table;
  for (const _counterName& entry : counterNames) {
    table += std::to_string(entry.index) + '\0';
    table += entry.name;
    table += '\0';
  }
  table += '\0';
  return table;
}

std::vector<BYTE> performanceDataBlock(const std::string& valueName) {
  timespec monotonic{}, realtime{};
  clock_gettime(CLOCK_MONOTONIC, &monotonic);
  clock_gettime(CLOCK_REALTIME, &realtime);
  const int64_t perfFreq = 10000000;
  const int64_t perfTime = static_cast<int64_t>(monotonic.tv_sec) * perfFreq + monotonic.tv_nsec / 100;
  // 100 ns units since 1601, as Windows keeps file times.
  const int64_t perfTime100nSec =
      (static_cast<int64_t>(realtime.tv_sec) + 11644473600ll) * 10000000 + realtime.tv_nsec / 100;

  std::vector<BYTE> out(sizeof(PERF_DATA_BLOCK), 0);
  PERF_DATA_BLOCK header;
  std::memset(&header, 0, sizeof(header));
  header.Signature[0] = u'P';
  header.Signature[1] = u'E';
  header.Signature[2] = u'R';
  header.Signature[3] = u'F';
  header.LittleEndian = 1;
  header.Version = 1;
  header.Revision = 1;
  header.HeaderLength = sizeof(PERF_DATA_BLOCK);
  header.DefaultObject = 238;
  tm utc{};
  const time_t seconds = realtime.tv_sec;
  if (gmtime_r(&seconds, &utc) != nullptr) {
    header.SystemTime.wYear = static_cast<WORD>(utc.tm_year + 1900);
    header.SystemTime.wMonth = static_cast<WORD>(utc.tm_mon + 1);
    header.SystemTime.wDayOfWeek = static_cast<WORD>(utc.tm_wday);
    header.SystemTime.wDay = static_cast<WORD>(utc.tm_mday);
    header.SystemTime.wHour = static_cast<WORD>(utc.tm_hour);
    header.SystemTime.wMinute = static_cast<WORD>(utc.tm_min);
    header.SystemTime.wSecond = static_cast<WORD>(utc.tm_sec);
    header.SystemTime.wMilliseconds = static_cast<WORD>(realtime.tv_nsec / 1000000);
  }
  header.PerfTime = perfTime;
  header.PerfFreq = perfFreq;
  header.PerfTime100nSec = perfTime100nSec;

  if (wantsProcessorObject(valueName)) {
    appendProcessorObject(&out, perfTime, perfFreq);
    header.NumObjectTypes = 1;
  }
  header.TotalByteLength = static_cast<DWORD>(out.size());
  put(&out, 0, header);
  return out;
}

}  // namespace linuxLayer
}  // namespace ps
