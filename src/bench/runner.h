// The test runner: starts one worker per tested processor, polls them,
// gathers the machine information while they run and adds up the scores.
#pragma once

#include <QString>
#include <cstdint>

#include "machine/cpu_info.h"

namespace ps {

class _psTestSingle;

constexpr int maxWorkers = 550;

class _psTest {
 public:
  _psTest();
  ~_psTest();
  _psTest(const _psTest&) = delete;
  _psTest& operator=(const _psTest&) = delete;

  float psTest(int threadCount, bool verbose);

  int threadCount;
  _psTestSingle* workers[maxWorkers];
  QString log;
  _cpuInfo* info;
  bool speedTest;

 private:
  bool startedWorker[maxWorkers];
  void gatherMachineInformation(bool verbose);
  bool allSettled() const;
  void deleteWorkers();
};

float psTestAll(QString& message, bool verbose);
float psTestSingleCore(QString& message, bool verbose, bool speedTest, bool singleThread);

// Adds worker scores in double, rounding to float at every step; a sum
// below 2.0 counts as 2.0.
float sumScores(const double* scores, int count);
// A single worker's score scaled to the machine: x coreCount, and x 0.5 x 1.2
// with hyperthreading (0.6 of a core per logical processor).
float scaleSingleCore(float total, int coreCount, bool hyperthreading);

}  // namespace ps
