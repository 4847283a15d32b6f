// Stands in for the worker thread in the Qt-free Windows test build: no Qt 5
// exists for MinGW here, and the kernel reads only these fields. Names,
// types and starting values follow bench/worker.h and worker.cpp, so the
// kernel source compiles unchanged; a renamed field fails this build.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace ps {

class _psTestSingle {
 public:
  explicit _psTestSingle(int& index) : index(index) {
    buffer1 = (unsigned char*)calloc((size_t)bufferSize, 1);
    buffer2 = (unsigned char*)calloc((size_t)bufferSize, 1);
  }
  ~_psTestSingle() {
    free(buffer1);
    free(buffer2);
  }
  _psTestSingle(const _psTestSingle&) = delete;
  _psTestSingle& operator=(const _psTestSingle&) = delete;

  std::atomic<bool> done{false};
  int loops = 100;
  int memPasses = 2;
  int bufferSize = 10485760;
  int64_t timeMs = 0;
  int index;
  int group = -1;
  double score = 0.0;
  std::atomic<float> progress{0.0f};
  bool verbose = false;
  unsigned char* buffer1 = nullptr;
  unsigned char* buffer2 = nullptr;
};

}  // namespace ps
