#include "machine/perf_counter.h"

#include <cstdlib>
#include <cstring>

#include "base/error_text.h"
#include "platform/system_calls.h"

namespace ps {

const char* const perfDataMalformedText = "getCorePercentage: Performance data is malformed";

bool _byteBuffer::reserve(int64_t n, bool keepContent) {
  lastError = 0;
  if (n < 0 || n > byteBufferLimit) {
    lastError = byteBufferRefused;
    return false;
  }
  if (block && n <= capacity) return true;
  uint8_t* grown = nullptr;
  if (keepContent && block) {
    grown = (uint8_t*)realloc(block, (size_t)n + 1);
    if (grown) memset(grown + capacity + 1, 0, (size_t)(n - capacity));
  } else {
    release();
    grown = (uint8_t*)calloc((size_t)n + 1, 1);
  }
  if (!grown) {
    release();
    lastError = byteBufferRefused;
    return false;
  }
  block = grown;
  capacity = (int32_t)n;
  if (readableLength > (uint32_t)capacity) readableLength = (uint32_t)capacity;
  return true;
}

bool _byteBuffer::read(void* destination, int32_t count) {
  if (count < 0 || !block) return false;
  if ((uint64_t)readPosition + (uint64_t)count > readableLength) return false;
  memcpy(destination, block + readPosition, (size_t)count);
  readPosition += (uint32_t)count;
  return true;
}

void _byteBuffer::release() {
  free(block);
  block = nullptr;
  capacity = 0;
  readableLength = 0;
  readPosition = 0;
}

bool _perfDataRequest::reserve(int32_t count) {
  elementCount = count;
  return data.reserve((int64_t)count * perfDataElementBytes, false);
}

bool readCounterNames(_byteBuffer& table) {
  const LPCWSTR valueName = reinterpret_cast<LPCWSTR>(u"Counter");
  DWORD size = 0;
  if (systemCalls.regQueryValueExW(HKEY_PERFORMANCE_TEXT, valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return false;
  if (!table.reserve(size, true)) return false;
  size = (DWORD)table.capacity;
  if (systemCalls.regQueryValueExW(HKEY_PERFORMANCE_TEXT, valueName, nullptr, nullptr, table.block, &size) != ERROR_SUCCESS)
    return false;
  table.setReadableLength((uint32_t)table.capacity);
  table.rewind();
  return true;
}

// Reads UTF-16 units up to a zero unit, keeping the first N.
template <int N>
static bool readWideString(_byteBuffer& table, _fixedStringW<N>& out) {
  out.clear();
  for (;;) {
    uint16_t unit;
    if (!table.read(&unit, 2)) return false;
    if (unit == 0) return true;
    out.appendUnit((char16_t)unit);
  }
}

bool readCounterEntry(_byteBuffer& table, int& index, _fixedStringW<500>& name) {
  _fixedStringW<10> digits;
  if (!readWideString(table, digits)) return false;
  char narrow[11];
  for (int i = 0; i < digits.length; ++i) narrow[i] = (char)(digits.text[i] & 0xFF);
  narrow[digits.length] = 0;
  index = parseIntClamped(narrow);
  return readWideString(table, name);
}

static int findCounterMatch(_byteBuffer& table, const char* name, int wanted) {
  _fixedStringW<500> target;
  target.assign(name);
  _fixedStringW<500> entryName;
  int index = 0;
  int found = 0;
  table.rewind();
  while (readCounterEntry(table, index, entryName)) {
    if (entryName.equals(target) && ++found == wanted) return index;
  }
  return -1;
}

int findCounterIndex(_byteBuffer& table, const char* name) { return findCounterMatch(table, name, 1); }

int findSecondCounterIndex(_byteBuffer& table, const char* name) { return findCounterMatch(table, name, 2); }

bool queryPerfObject(_perfDataRequest& request, int objectIndex, _fixedString<500>& errorText) {
  _byteBuffer& buffer = request.data;
  if (!buffer.block) return false;
  char valueName[16];
  formatBounded(valueName, (int)sizeof(valueName), "%d", objectIndex);
  DWORD size = (DWORD)buffer.capacity;
  LSTATUS result = systemCalls.regQueryValueExA(HKEY_PERFORMANCE_DATA, valueName, nullptr, nullptr, buffer.block, &size);
  if (result == (LSTATUS)ERROR_SUCCESS) {
    buffer.setReadableLength(size);
    buffer.rewind();
    return true;
  }
  if (result == (LSTATUS)ERROR_MORE_DATA) {
    errorText.append("RegQueryValueExA more data. ");
    errorText.append("Requesting ");
    if (objectIndex == 6) errorText.append("CPU time. ");
    if (objectIndex == 230) errorText.append("Process obj. ");
    if (objectIndex == 238) errorText.append("CPU obj. ");
    errorText.appendNumber(buffer.capacity);
    errorText.append(" Bytes. Count:");
    errorText.appendNumber(request.elementCount);
    errorText.append(";  ");
    return false;
  }
  errorText.append("RegQueryValueExA ");
  appendSystemErrorText(errorText, (uint32_t)result);
  errorText.append(";  ");
  return false;
}

namespace {

// Bounds-checked little reads over the returned bytes only.
struct _perfBlockReader {
  const uint8_t* data;
  uint64_t size;
  bool malformed;

  template <class T>
  T read(uint64_t offset) {
    T value = 0;
    if (offset > size || size - offset < sizeof(T)) {
      malformed = true;
      return 0;
    }
    memcpy(&value, data + offset, sizeof(T));
    return value;
  }
  uint32_t u32(uint64_t offset) { return read<uint32_t>(offset); }
  uint16_t u16(uint64_t offset) { return read<uint16_t>(offset); }
};

// The flat processor index of an instance name "group,core" (or "core");
// -1 when it is a total or falls outside the 512 entries.
int64_t instanceIndex(const _fixedString<100>& name, int64_t& maxCores) {
  if (name.endsWithNoCase("_Total")) return -1;
  int comma = name.findCharNoCase(',');
  int64_t core = parseIntClamped(comma < 0 ? name.text : name.text + comma + 1);
  if (core + 1 > maxCores) maxCores = core + 1;
  _fixedString<100> groupText;
  if (comma > 0) groupText = name.left(comma);
  int64_t group = parseIntClamped(groupText.text);
  int64_t index = core + group * maxCores;
  if (index < 0 || index >= maxRecordedProcessors) return -1;
  return index;
}

}  // namespace

bool readFrequencies(const uint8_t* data, size_t size, int P, int F1, int F2, int R,
                     uint32_t* coreFrequency, _fixedString<1000>& errorText) {
  _perfBlockReader in = {data, data ? (uint64_t)size : 0, false};
  bool stored = false;
  auto malformed = [&]() {
    memset(coreFrequency, 0, sizeof(uint32_t) * maxRecordedProcessors);
    errorText.append(perfDataMalformedText);
    return false;
  };

  uint64_t object = in.u32(offsetof(PERF_DATA_BLOCK, HeaderLength));
  uint32_t objectCount = in.u32(offsetof(PERF_DATA_BLOCK, NumObjectTypes));
  if (in.malformed) return malformed();
  if (objectCount == 0) {
    errorText.append("getCorePercentage: Required counter not available");
    return false;
  }
  bool found = false;
  for (uint32_t i = 0; i < objectCount; ++i) {
    uint32_t objectIndex = in.u32(object + offsetof(PERF_OBJECT_TYPE, ObjectNameTitleIndex));
    if (in.malformed) return malformed();
    if ((int64_t)objectIndex == P) {
      found = true;
      break;
    }
    if (i + 1 == objectCount) break;
    uint32_t length = in.u32(object + offsetof(PERF_OBJECT_TYPE, TotalByteLength));
    // Each object is at least its header long, so a bad count ends at the data's end.
    if (in.malformed || length < sizeof(PERF_OBJECT_TYPE)) return malformed();
    object += length;
  }
  if (!found) return false;

  uint64_t definition = object + in.u32(object + offsetof(PERF_OBJECT_TYPE, HeaderLength));
  uint32_t counterCount = in.u32(object + offsetof(PERF_OBJECT_TYPE, NumCounters));
  int32_t instanceCount = (int32_t)in.u32(object + offsetof(PERF_OBJECT_TYPE, NumInstances));
  uint64_t instance = object + in.u32(object + offsetof(PERF_OBJECT_TYPE, DefinitionLength));
  if (in.malformed) return malformed();

  bool haveFrequency = false, havePerformance = false;
  uint32_t frequencyOffset = 0;
  for (uint32_t i = 0; i < counterCount; ++i) {
    uint32_t length = in.u32(definition + offsetof(PERF_COUNTER_DEFINITION, ByteLength));
    int64_t nameIndex = in.u32(definition + offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex));
    uint32_t counterOffset = in.u32(definition + offsetof(PERF_COUNTER_DEFINITION, CounterOffset));
    if (in.malformed || length < sizeof(PERF_COUNTER_DEFINITION)) return malformed();
    if (nameIndex == F1 || nameIndex == F2) {
      haveFrequency = true;
      frequencyOffset = counterOffset;
    }
    if (nameIndex == R) havePerformance = true;
    definition += length;
  }
  if (!haveFrequency || !havePerformance || instanceCount == 0 || instanceCount == PERF_NO_INSTANCES) {
    errorText.append("getCorePercentage: Required data not available");
    return false;
  }
  if (instanceCount < 0) return false;

  int64_t maxCores = 1;
  for (int32_t i = 0; i < instanceCount; ++i) {
    uint32_t instanceLength = in.u32(instance + offsetof(PERF_INSTANCE_DEFINITION, ByteLength));
    uint64_t nameAt = instance + in.u32(instance + offsetof(PERF_INSTANCE_DEFINITION, NameOffset));
    if (in.malformed || instanceLength < sizeof(PERF_INSTANCE_DEFINITION)) return malformed();
    _fixedString<100> name;
    for (int k = 0; k < 100; ++k) {
      uint16_t unit = in.u16(nameAt + 2 * (uint64_t)k);
      if (in.malformed) return malformed();
      if (unit == 0) break;
      char c = (char)(unit & 0xFF);
      name.append(&c, 1);
    }
    uint64_t counterBlock = instance + instanceLength;
    uint32_t blockLength = in.u32(counterBlock + offsetof(PERF_COUNTER_BLOCK, ByteLength));
    // The block must lie whole within the data, even for a skipped instance.
    if (in.malformed || blockLength < sizeof(PERF_COUNTER_BLOCK) || blockLength > in.size - counterBlock)
      return malformed();
    int64_t index = instanceIndex(name, maxCores);
    if (index >= 0) {
      uint32_t value = in.u32(counterBlock + frequencyOffset);
      if (in.malformed) return malformed();
      coreFrequency[index] = value;
      stored = true;
    }
    instance = counterBlock + blockLength;
  }
  return stored;
}

bool getCorePercentage(_cpuInfo& info, uint32_t* coreFrequency) {
  _perfDataRequest request;
  request.reserve(perfDataElements);
  _fixedString<500> queryText;
  _byteBuffer table;
  readCounterNames(table);

  int P = findCounterIndex(table, "Processor Information");
  if (P <= 0) {
    info.errorText.append("getCorePercentage: Required counter PROCESSOR_Information_INDEX not found");
    return false;
  }
  int F1 = findCounterIndex(table, "Processor Frequency");
  int F2 = findSecondCounterIndex(table, "Processor Frequency");
  int R = findCounterIndex(table, "% Processor Performance");
  if (F1 <= 0) {
    info.errorText.append("getCorePercentage: Required counter Frequency_INDEX not found");
    return false;
  }
  if (R <= 0) {
    info.errorText.append("getCorePercentage: Required counter Performance_INDEX not found");
    return false;
  }
  table.release();

  memset(coreFrequency, 0, sizeof(uint32_t) * maxRecordedProcessors);
  if (!queryPerfObject(request, P, queryText)) {
    info.errorText.append("getCorePercentage: ");
    info.errorText.append(queryText);
    info.errorText.append("\n");
    return false;
  }
  return readFrequencies(request.data.block, request.data.readableLength, P, F1, F2, R, coreFrequency,
                         info.errorText);
}

}  // namespace ps
