#include "bench/worker.h"

#include <cstdio>
#include <cstdlib>

#include "base/clocks.h"
#include "platform/windows_api.h"

namespace ps {

namespace {

// A pass of 43.33 ms scores 100 PS.
constexpr double scoreForOneMsPerPass = 4333.0;
// What a phase that measured 0 ms counts per pass.
constexpr double zeroTimeMsPerPass = (double)0.0001f;
constexpr int bufferBytes = 10 * 1024 * 1024;
constexpr int startPauseMs = 250;

}  // namespace

double scoreFromTime(int64_t timeMs, int passes) {
  if (passes < 1) return 0.0;
  double msPerPass = (double)timeMs / (double)passes;
  // The tick count is coarse: a phase can measure 0 ms.
  if (msPerPass <= 0.0) msPerPass = zeroTimeMsPerPass;
  return scoreForOneMsPerPass / msPerPass;
}

int processorGroupFor(int index, int groupCount) {
  if (groupCount < 2 || index < 0) return -1;
  return index % groupCount;
}

_kernelInput kernelInput(const _psTestSingle& worker) {
  return {worker.buffer1, worker.buffer2, worker.bufferSize, worker.memPasses, worker.index, worker.verbose};
}

void psKernel(_psTestSingle* worker, const int* pass, const int* passes) {
  if (worker && pass && passes) psKernel(kernelInput(*worker), *pass, *passes);
}

_psTestSingle::_psTestSingle(int& index)
    : QThread(nullptr),
      done(false),
      loops(100),
      memPasses(2),
      bufferSize(bufferBytes),
      timeMs(0),
      index(index),
      group(-1),
      score(0.0),
      progress(0.0f),
      verbose(false),
      buffer1(nullptr),
      buffer2(nullptr) {
  // Zeroed rather than left indeterminate, so the worker's first memory
  // sub-test reads defined bytes. A failed allocation stays null and the
  // memory sub-test then does nothing.
  buffer1 = (unsigned char*)calloc((size_t)bufferSize, 1);
  buffer2 = (unsigned char*)calloc((size_t)bufferSize, 1);
  group = processorGroupFor(this->index, (int)GetActiveProcessorGroupCount());
}

_psTestSingle::~_psTestSingle() {
  // Destroying a QThread whose body is still returning aborts the process;
  // done is set just before run() ends.
  wait();
  free(buffer1);
  free(buffer2);
  buffer1 = nullptr;
  buffer2 = nullptr;
}

void _psTestSingle::run() {
  if (group >= 0) {
    HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE,
                               (DWORD)(uintptr_t)QThread::currentThreadId());
    GROUP_AFFINITY affinity;
    affinity.Mask = ~(KAFFINITY)0;
    affinity.Group = (WORD)group;
    affinity.Reserved[0] = 0;
    affinity.Reserved[1] = 0;
    affinity.Reserved[2] = 0;
    // Placement is best effort: on failure the thread runs where it is put.
    SetThreadGroupAffinity(thread, &affinity, nullptr);
    if (thread) CloseHandle(thread);
  }
  sleepMs(startPauseMs);

  done.store(false, std::memory_order_release);
  progress.store(0.0f, std::memory_order_release);
  timeMs = 0;
  score = 0.0;

  // Preheat with a third of the passes, silently.
  bool wasVerbose = verbose;
  verbose = false;
  int passes = loops / 3;
  for (int pass = 1; pass <= passes; ++pass) psKernel(this, &pass, &passes);
  verbose = wasVerbose;
  if (verbose && index == 0) printf("\n      t0:**********preheat done**********\n");

  passes = loops;
  _tickTimer timer;
  for (int pass = 1; pass <= passes; ++pass) {
    psKernel(this, &pass, &passes);
    progress.store((float)pass / (float)passes, std::memory_order_release);
  }
  timeMs = timer.elapsedMs();
  if (verbose && index == 0) printf("      totalTime %5.3f\n", (double)((float)timeMs / 1000.0f));

  score = scoreFromTime(timeMs, passes);
  done.store(true, std::memory_order_release);
}

}  // namespace ps
