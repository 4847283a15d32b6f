#include "platform/linux/perf_data.h"

#include <cstring>
#include <utility>

#include "platform/linux/snapshot.h"
#include "platform/linux/utf16.h"

namespace ps {
namespace linuxLayer {

namespace {

// The counter block: its length word, then "Processor Frequency". "%
// Processor Performance" is defined, as the reader requires, but its value
// is read by nobody and stays 0.
constexpr DWORD frequencyOffset = 4;
constexpr DWORD performanceOffset = 8;
constexpr DWORD counterBlockLength = 12;

const std::pair<DWORD, const char*> counterNames[] = {
    {processorInformationIndex, "Processor Information"},
    {processorFrequencyIndex, "Processor Frequency"},
    {processorPerformanceIndex, "% Processor Performance"},
};

template <typename T>
void put(std::vector<BYTE>* out, size_t offset, const T& value) {
  std::memcpy(out->data() + offset, &value, sizeof(value));
}

// One instance per logical processor, named "group,number" as Windows names
// them; Windows' "_Total" instances are left out, since the reader skips them.
void appendProcessorObject(std::vector<BYTE>* out) {
  const auto snapshot = processorSnapshot();
  const _processorList& list = snapshot->list;
  // The live clocks: cpuinfo changes with them, so it is read per call.
  _cpuinfoFile cpuinfo;
  readCpuinfo(&cpuinfo);

  const size_t objectStart = out->size();
  const DWORD definitionLength = sizeof(PERF_OBJECT_TYPE) + 2 * sizeof(PERF_COUNTER_DEFINITION);
  out->resize(objectStart + definitionLength);
  PERF_OBJECT_TYPE object;
  std::memset(&object, 0, sizeof(object));
  object.DefinitionLength = definitionLength;
  object.HeaderLength = sizeof(PERF_OBJECT_TYPE);
  object.ObjectNameTitleIndex = processorInformationIndex;
  object.NumCounters = 2;
  object.NumInstances = static_cast<LONG>(list.count());
  put(out, objectStart, object);

  const DWORD counterIndexes[2] = {processorFrequencyIndex, processorPerformanceIndex};
  const DWORD counterOffsets[2] = {frequencyOffset, performanceOffset};
  for (int i = 0; i < 2; ++i) {
    PERF_COUNTER_DEFINITION counter;
    std::memset(&counter, 0, sizeof(counter));
    counter.ByteLength = sizeof(PERF_COUNTER_DEFINITION);
    counter.CounterNameTitleIndex = counterIndexes[i];
    counter.CounterOffset = counterOffsets[i];
    put(out, objectStart + sizeof(PERF_OBJECT_TYPE) + i * sizeof(counter), counter);
  }

  for (int logical = 0; logical < list.count(); ++logical) {
    const int group = list.groupOf(logical);
    const std::u16string name =
        utf16FromUtf8(std::to_string(group) + "," + std::to_string(logical - list.groupStart(group)));
    const DWORD nameLength = static_cast<DWORD>((name.size() + 1) * sizeof(char16_t));
    const size_t start = out->size();
    PERF_INSTANCE_DEFINITION instance;
    std::memset(&instance, 0, sizeof(instance));
    instance.ByteLength = sizeof(PERF_INSTANCE_DEFINITION) + nameLength;
    instance.NameOffset = sizeof(PERF_INSTANCE_DEFINITION);
    out->resize(start + instance.ByteLength + counterBlockLength, 0);
    put(out, start, instance);
    std::memcpy(out->data() + start + sizeof(instance), name.c_str(), nameLength);
    const int current = currentMhz(cpuinfo, list.cpus[logical]);
    put(out, start + instance.ByteLength, counterBlockLength);
    put(out, start + instance.ByteLength + frequencyOffset, static_cast<DWORD>(current > 0 ? current : 0));
  }
}

}  // namespace

std::string counterNameTable() {
  std::string table;
  for (const auto& entry : counterNames) {
    table += std::to_string(entry.first) + '\0';
    table += entry.second;
    table += '\0';
  }
  table += '\0';
  return table;
}

std::vector<BYTE> performanceDataBlock(const std::string& valueName) {
  // Only what the reader reads: where the objects start and how many there are.
  std::vector<BYTE> out(sizeof(PERF_DATA_BLOCK), 0);
  PERF_DATA_BLOCK header;
  std::memset(&header, 0, sizeof(header));
  header.HeaderLength = sizeof(PERF_DATA_BLOCK);
  if (valueName == std::to_string(processorInformationIndex)) {
    appendProcessorObject(&out);
    header.NumObjectTypes = 1;
  }
  put(&out, 0, header);
  return out;
}

}  // namespace linuxLayer
}  // namespace ps
