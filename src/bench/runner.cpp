#include "bench/runner.h"

#include <QThread>
#include <cstdio>
#include <cstring>

#include "base/clocks.h"
#include "bench/run_lines.h"
#include "bench/worker.h"
#include "machine/cpu_name.h"
#include "machine/cpu_survey.h"
#include "machine/machine_report.h"

namespace ps {

namespace {

constexpr int startDelayMs = 200;
constexpr int pollIntervalMs = 500;
constexpr int fullLoops = 100;
constexpr int speedTestDivisor = 13;
constexpr int memoryTestPasses = 2;

QString latin1(const char* text, int length) { return QString::fromLatin1(text, length); }

// Prints the line's live form in verbose mode and logs the other.
void writeLine(const _runLine& line, bool verbose, QString& log) {
  if (verbose) fwrite(line.printed.text, 1, line.printed.length, stdout);
  log.append(latin1(line.logged.text, line.logged.length));
}

}  // namespace

_psTest::_psTest() : threadCount(1), log(), info(newCpuInfo()), speedTest(false) {
  for (int i = 0; i < maxWorkers; ++i) {
    workers[i] = nullptr;
    startedWorker[i] = false;
  }
}

_psTest::~_psTest() {
  deleteWorkers();
  delete info;
  info = nullptr;
}

// A worker's thread may still be finishing after it set done, so each one is
// joined before it is destroyed.
void _psTest::deleteWorkers() {
  for (int i = 0; i < maxWorkers; ++i) {
    if (!workers[i]) continue;
    if (startedWorker[i]) workers[i]->wait();
    delete workers[i];
    workers[i] = nullptr;
    startedWorker[i] = false;
  }
}

void _psTest::gatherMachineInformation(bool verbose) {
  if (verbose) printf("\npsTest: Calling cpuInfo\n");
  cpuInfo(*info);
  // Printed live in verbose mode, otherwise logged.
  _fixedString<5000> report;
  buildMachineReport(*info, report);
  if (verbose)
    fwrite(report.text, 1, report.length, stdout);
  else
    log.append(latin1(report.text, report.length));
}

// Done, never started, or ended without saying so: nothing more to wait for.
bool _psTest::allSettled() const {
  for (int i = 0; i < threadCount; ++i) {
    const _psTestSingle* worker = workers[i];
    if (worker->done.load(std::memory_order_acquire)) continue;
    if (!startedWorker[i] || worker->isFinished()) continue;
    return false;
  }
  return true;
}

float _psTest::psTest(int count, bool verbose) {
  log.clear();
  threadCount = count >= maxWorkers ? maxWorkers : count;
  if (threadCount < 0) threadCount = 0;

  writeLine(startLine(threadCount), verbose, log);

  for (int i = 0; i < threadCount; ++i) {
    workers[i] = new _psTestSingle(i);
    workers[i]->verbose = verbose;
    if (verbose) printf("t");
  }
  if (verbose) printf("\npsTest: threads created\npsTest: starting threads - benchmark\n");

  for (int i = 0; i < threadCount; ++i) {
    workers[i]->loops = fullLoops;
    if (speedTest) workers[i]->loops = workers[i]->loops / speedTestDivisor;
    workers[i]->memPasses = memoryTestPasses;
  }

  sleepMs(startDelayMs);
  for (int i = 0; i < threadCount; ++i) {
    workers[i]->start(QThread::InheritPriority);
    // start() marks the thread running before it returns; neither running
    // nor finished means the thread could not be created.
    startedWorker[i] = workers[i]->isRunning() || workers[i]->isFinished();
  }

  if (verbose) printf("\npsTest: waiting for results...");

  bool gathered = false;
  if (threadCount > 0) {
    for (;;) {
      sleepMs(pollIntervalMs);
      if (verbose) printf(".");
      if (!gathered && workers[0]->progress.load(std::memory_order_acquire) > 0.5f) {
        gatherMachineInformation(verbose);
        gathered = true;
      }
      if (allSettled()) break;
    }
  }
  // Without a worker 0 that got past half-way the report is still owed.
  if (!gathered) gatherMachineInformation(verbose);

  for (int i = 0; i < threadCount; ++i)
    if (startedWorker[i]) workers[i]->wait();

  if (verbose) printf("\npsTest: all Threads done\n");

  double scores[maxWorkers];
  for (int i = 0; i < threadCount; ++i) {
    const _psTestSingle* worker = workers[i];
    scores[i] = worker->score;
    writeLine(workerLine(i, worker->score, worker->timeMs, worker->loops), verbose, log);
  }
  float total = sumScores(scores, threadCount);
  writeLine(totalLine(total, threadCount), verbose, log);

  deleteWorkers();
  return total;
}

float sumScores(const double* scores, int count) {
  float total = 0.0f;
  for (int i = 0; i < count; ++i) total = (float)((double)total + scores[i]);
  return total < 2.0f ? 2.0f : total;
}

float scaleSingleCore(float total, int coreCount, bool hyperthreading) {
  // An unknown processor count (failed topology read) credits one processor
  // instead of zeroing the score.
  float factor = (float)(coreCount < 1 ? 1 : coreCount);
  if (hyperthreading) {
    factor = factor * 0.5f;
    factor = factor * 1.2f;
  }
  return total * factor;
}

namespace {

float finishRun(_psTest& test, QString& message, bool verbose, float total) {
  message = test.log;
  writeLine(resultLine(total), verbose, message);
  return total;
}

}  // namespace

float psTestAll(QString& message, bool verbose) {
  _psTest test;
  analyseCpuName(*test.info);
  float total = test.psTest(test.info->coreCount, verbose);
  return finishRun(test, message, verbose, total);
}

float psTestSingleCore(QString& message, bool verbose, bool speedTest, bool singleThread) {
  _psTest test;
  analyseCpuName(*test.info);
  int n = test.info->coreCount;
  test.speedTest = speedTest;
  if (singleThread) n = 1;
  float total = test.psTest(n, verbose);
  if (singleThread) total = scaleSingleCore(total, test.info->coreCount, test.info->hyperthreading);
  return finishRun(test, message, verbose, total);
}

}  // namespace ps
