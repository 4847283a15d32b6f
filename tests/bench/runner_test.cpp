#include "bench/runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "bench/tick_clock.h"
#include "recorded_machine.h"

namespace ps {
namespace {

using testSupport::count;

// The runner on the tests' clock in lock-step: each poll of the main thread (its 500 ms sleeps) lets the worker
// take twelve clock readings, a pass's worth, and returns once it has or has ended, so each poll sees a set pass.
std::thread::id mainThread;
std::atomic<int> readingsLeft{0};
std::atomic<bool> workerEnded{false};
struct _endMark {
  ~_endMark() { workerEnded = true; }
};

DWORD lockStepTick() {
  static thread_local _endMark mark;  // ends with the thread
  (void)mark;
  if (std::this_thread::get_id() != mainThread) {
    while (readingsLeft.load() == 0) std::this_thread::yield();
    --readingsLeft;
  }
  return nextTick();
}

void lockStepSleep(DWORD milliseconds) {
  sleepTicks(milliseconds);
  if (milliseconds == 500 && std::this_thread::get_id() == mainThread)
    for (readingsLeft = 12; readingsLeft.load() > 0 && !workerEnded.load();) std::this_thread::yield();
}

TEST(Runner, SumsInDoubleRoundingToFloatWithA2PsFloor) {
  const double scores[] = {0.5, 1.0, 100.25, 200.5, 16777216.0, 1.0, 1.0};
  EXPECT_EQ(sumScores(scores, 2), 2.0f);
  EXPECT_EQ(sumScores(nullptr, 0), 2.0f);
  EXPECT_EQ(sumScores(scores + 2, 2), 300.75f);
  EXPECT_EQ(sumScores(scores + 4, 3), 16777216.0f);  // each step rounded to float: + 1 is lost
}

TEST(Runner, SingleCoreScoreIsScaledToTheMachine) {
  EXPECT_EQ(scaleSingleCore(100.0f, 8, false), 800.0f);
  // x 0.5 x 1.2 in single precision: 9.6000004 for 16 logical processors.
  EXPECT_EQ(scaleSingleCore(100.0f, 16, true), 960.000061f);
  // An unknown count credits one processor instead of zeroing the score.
  EXPECT_EQ(scaleSingleCore(100.0f, 0, false), 100.0f);
}

TEST(Runner, NoWorkersGiveTheFloorAndStillTheReport) {
  const _replacedSystemCalls clock(tickClock());
  _psTest test;
  test.info->coreCount = 0;
  EXPECT_EQ(test.psTest(0, false), 2.0f);
  const std::string log = test.log.toStdString();
  EXPECT_EQ(log.rfind("CPU PS Test...\nCreating 0 threads\n", 0), 0u);
  EXPECT_EQ(count(log, "NOTE: Tessel reads the information"), 1u);
  EXPECT_NE(log.find("=totalSpeed 2.000 PS (Average per core: 2.000 PS)\n"), std::string::npos);
}

// A verbose speed test on a recorded machine of 8 logical processors with hyperthreading: the report printed
// live once, when worker 0 is past half-way (after its fourth pass, the third printed one), and kept out of the
// log; the score, exact on the tests' clock (7 passes of 12 readings), scaled by 8 x 0.6.
TEST(Runner, VerboseSpeedTestPrintsLiveLines) {
  const testSupport::_scopedRoot root(testSupport::machineRoot("intel-i7-1165G7-tigerlake"));
  const _replacedSystemCalls clock(tickClock(lockStepTick, lockStepSleep));
  mainThread = std::this_thread::get_id();
  QString message;
  testing::internal::CaptureStdout();
  const float score = psTestSingleCore(message, true, true, true);
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(count(out, "\npsTest: Calling cpuInfo\n"), 1u) << out;
  EXPECT_EQ(count(out.substr(0, out.find("\npsTest: Calling cpuInfo\n")), "t0:Ft"), 3u) << out;
  EXPECT_EQ(count(out, "NOTE: Tessel reads the information"), 1u) << out;
  EXPECT_NE(out.find("CPU Core Count:      8\n"), std::string::npos) << out;
  const std::string tail = "\npsTest: all Threads done\npsTest: adding thread 0: 356.835\n"
                           "psTest: totalSpeed 356.835 PS   (Average per core:  356.835 PS)\npsTest: PS_Result: 1712.809\n";
  EXPECT_EQ(out.substr(out.size() - std::min(out.size(), tail.size())), tail) << out;
  EXPECT_FLOAT_EQ(score, 1712.809f);
  EXPECT_EQ(message.toStdString().find("NOTE: Tessel"), std::string::npos);
}

}  // namespace
}  // namespace ps
