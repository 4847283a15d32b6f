// Current clock of every logical processor from the performance counters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/fixed_string.h"
#include "machine/cpu_info.h"
#include "platform/windows_api.h"

namespace ps {

// Fills coreFrequency (512 entries, MHz); true when at least one processor's
// value was stored. Failures are appended to info.errorText.
bool getCorePercentage(_cpuInfo& info, uint32_t* coreFrequency);

// Largest block a _byteBuffer accepts.
constexpr int64_t byteBufferLimit = 2097152000;
constexpr int32_t byteBufferRefused = -100;

// A heap block with a read cursor. Reading never passes readableLength,
// which is kept within the capacity.
struct _byteBuffer {
  uint32_t readableLength = 0;
  uint32_t readPosition = 0;
  int32_t capacity = 0;
  uint8_t* block = nullptr;  // capacity + 1 bytes
  int32_t lastError = 0;

  _byteBuffer() = default;
  _byteBuffer(const _byteBuffer&) = delete;
  _byteBuffer& operator=(const _byteBuffer&) = delete;
  ~_byteBuffer() { release(); }

  // keepContent: grow by reallocation (new bytes zero); otherwise the old
  // block is freed first and a fresh zeroed one obtained.
  bool reserve(int64_t n, bool keepContent);
  // Copies count bytes at the cursor and advances it; fails, leaving the
  // cursor, when they would pass the readable length.
  bool read(void* destination, int32_t count);
  void setReadableLength(uint32_t n) { readableLength = n < (uint32_t)capacity ? n : (uint32_t)capacity; }
  void rewind() { readPosition = 0; }
  void release();
};

// The performance-data request: room for elementCount × 88 bytes.
struct _perfDataRequest {
  int32_t elementCount = 0;
  _byteBuffer data;

  bool reserve(int32_t count);
};

constexpr int32_t perfDataElements = 3000;
constexpr int32_t perfDataElementBytes = 88;

// The English counter-name table ("Counter" of HKEY_PERFORMANCE_TEXT).
bool readCounterNames(_byteBuffer& table);
// One index/name pair at the cursor; false at the end of the table.
bool readCounterEntry(_byteBuffer& table, int& index, _fixedStringW<500>& name);
// Index of the first (second) entry named exactly name; -1 when none.
int findCounterIndex(_byteBuffer& table, const char* name);
int findSecondCounterIndex(_byteBuffer& table, const char* name);

// Performance data of one object into request.data; on failure a text
// goes to errorText.
bool queryPerfObject(_perfDataRequest& request, int objectIndex, _fixedString<500>& errorText);

// The walk over a performance-data block of size readable bytes: stores
// "Processor Frequency" (counter F1 or F2) of every instance of object P
// that also defines counter R. Appends the failure texts of getCorePercentage
// and returns whether anything was stored. Every offset is checked against
// size; a block that points outside itself leaves coreFrequency zero and
// errorText gains perfDataMalformedText.
bool readFrequencies(const uint8_t* data, size_t size, int P, int F1, int F2, int R,
                     uint32_t* coreFrequency, _fixedString<1000>& errorText);

extern const char* const perfDataMalformedText;

}  // namespace ps
