// One worker thread of the PS test: placed in a processor group, preheated,
// then timed over its kernel passes; the time becomes its score.
#pragma once

#include <QThread>

#include <atomic>
#include <cstdint>

#include "bench/kernel.h"

namespace ps {

// Score of a timed phase: 4333 divided by the milliseconds per pass, so a
// pass of 43.33 ms scores 100 PS. A time of 0 counts as 0.0001f ms per pass;
// no passes give 0.
double scoreFromTime(int64_t timeMs, int passes);

// The group a worker is placed in: round-robin over groupCount groups, -1
// (no placement) when there are fewer than two.
int processorGroupFor(int index, int groupCount);

// No signals or slots, so no meta-object of its own.
class _psTestSingle : public QThread {
 public:
  explicit _psTestSingle(int& index);
  // Waits for the thread to end before freeing the buffers.
  ~_psTestSingle() override;

  // Read by the runner's thread while the worker runs: done is stored last
  // (release), so everything else is visible once it reads true (acquire).
  std::atomic<bool> done;
  int loops;
  int memPasses;
  int bufferSize;
  int64_t timeMs;
  int index;
  int group;
  double score;
  std::atomic<float> progress;
  bool verbose;
  unsigned char* buffer1;
  unsigned char* buffer2;

 protected:
  void run() override;
};

// The worker's buffers and settings, as its kernel passes read them.
_kernelInput kernelInput(const _psTestSingle& worker);

// One kernel pass over the worker's buffers and settings. pass is 1-based,
// passes the pass count of the current phase; nothing happens when any of
// the three is missing.
void psKernel(_psTestSingle* worker, const int* pass, const int* passes);

}  // namespace ps
