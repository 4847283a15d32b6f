#include "bench/runner.h"

#include <QThread>
#include <cstdio>
#include <cstring>

#include "base/clocks.h"
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

QString threeDigits(uint64_t group) { return QString("%1").arg((qulonglong)group, 3, 10, QChar('0')); }

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
  if (verbose) {
    printMachineReport(*info);
  } else {
    _fixedString<5000> report;
    buildMachineReport(*info, report);
    log.append(latin1(report.text, report.length));
  }
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

  if (verbose) printf("CPU PS Test...\nCreating %d threads\n", threadCount);
  log.append(QString("CPU PS Test...\nCreating %1 threads\n").arg(threadCount));

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
    if (verbose) printf("psTest: adding thread %d: %5.3f\n", i, worker->score);
    log.append(QString("adding thread %1: %2PS (%3 ms, %4 loops)\n")
                   .arg(i)
                   .arg(worker->score, 5, 'f', 3, QChar(' '))
                   .arg(formatThousands(worker->timeMs))
                   .arg(worker->loops));
  }
  float total = sumScores(scores, threadCount);

  // No worker ran: the average is the total rather than a division by zero.
  float average = threadCount > 0 ? total / (float)threadCount : total;
  if (verbose) printf("psTest: totalSpeed %5.3f PS   (Average per core:  %5.3f PS)\n", total, average);
  log.append(QString("=totalSpeed %1 PS (Average per core: %2 PS)\n")
                 .arg(total, 5, 'f', 3, QChar(' '))
                 .arg(average, 5, 'f', 3, QChar(' ')));

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
  if (verbose) printf("psTest: PS_Result: %5.3f\n", total);
  message.append(QString("PS_Result: %1").arg(total, 5, 'f', 3, QChar(' ')));
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

void printMachineReport(const _cpuInfo& info) {
  _fixedString<5000> report;
  buildMachineReport(info, report);
  fwrite(report.text, 1, report.length, stdout);
}

QString formatThousands(int64_t value) {
  QString sign;
  // Unsigned magnitude: the most negative value has no positive twin.
  uint64_t magnitude = (uint64_t)value;
  if (value < 0) {
    sign = "-";
    magnitude = 0 - magnitude;
  }
  if (magnitude <= 1000) return QString("%1%2").arg(sign).arg((qulonglong)magnitude);
  uint64_t q1 = magnitude / 1000;
  QString tail = threeDigits(magnitude - q1 * 1000);
  if (q1 <= 1000) return QString("%1%2 %3").arg(sign).arg((qulonglong)q1).arg(tail);
  uint64_t q2 = q1 / 1000;
  tail = QString("%1 %2").arg(threeDigits(q1 - q2 * 1000)).arg(tail);
  if (q2 <= 1000) return QString("%1%2 %3").arg(sign).arg((qulonglong)q2).arg(tail);
  uint64_t q3 = q2 / 1000;
  tail = QString("%1 %2").arg(threeDigits(q2 - q3 * 1000)).arg(tail);
  return QString("%1%2 %3").arg(sign).arg((qulonglong)q3).arg(tail);
}

}  // namespace ps
