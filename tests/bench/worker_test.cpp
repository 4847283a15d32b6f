#include "bench/worker.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "bench/maths_calls.h"
#include "bench/tick_clock.h"

namespace ps {
namespace {

TEST(WorkerTest, ScoreFromTime) {
  EXPECT_NEAR(scoreFromTime(2000, 100), 216.65, 1e-4);
  EXPECT_NEAR(scoreFromTime(0, 100), 43330001.0946, 1e-4);  // a phase can measure 0 ms: 0.0001f ms per pass
  EXPECT_EQ(scoreFromTime(5, 0), 0.0);                       // no passes, no score
}

TEST(WorkerTest, ProcessorGroupsAreDealtRoundRobin) {
  const struct { int index, groups, group; } cases[] = {{3, 2, 1}, {4, 2, 0}, {5, 3, 2}, {3, 1, -1}, {0, 0, -1}};
  for (const auto& c : cases) EXPECT_EQ(processorGroupFor(c.index, c.groups), c.group) << c.index << " of " << c.groups;
}

// What the passes read sets how much memory they move, which no checksum shows.
TEST(WorkerTest, KernelReadsTheWorkersBuffersAndSettings) {
  int index = 6;
  _psTestSingle worker(index);
  worker.memPasses = 5;
  worker.verbose = true;
  const _kernelInput input = kernelInput(worker);
  EXPECT_EQ(std::make_tuple(input.buffer1, input.buffer2, input.bufferSize, input.memPasses, input.index, input.verbose),
            std::make_tuple(worker.buffer1, worker.buffer2, 10485760, 5, 6, true));
}

// Two short workers side by side: worker 0 prints its lines, worker 1 does not.
TEST(WorkerTest, ShortRunsScoreAndFinish) {
  const _replacedSystemCalls clock(tickClock());
  int index0 = 0, index1 = 1;
  _psTestSingle first(index0), second(index1);
  first.loops = 3;   // one muted preheat pass, then three printed passes
  second.loops = 1;  // no preheat pass, one timed pass
  first.verbose = second.verbose = true;
  const _mathsCalls before = mathsCallsSoFar();
  testing::internal::CaptureStdout();
  first.start();
  second.start();
  first.wait();
  second.wait();
  fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();

  // Five passes in all, each with the 2,100,000 sin calls of Ft and Dt.
  EXPECT_EQ((mathsCallsSoFar() - before)[0], 5 * 2100000L);
  // The timer brackets the timed passes only, not the pause or the preheat:
  // a pass reads the clock at its start and at each sub-test's end.
  const struct { _psTestSingle* worker; int64_t timeMs; } timed[] = {{&first, 3 * 12 + 1}, {&second, 12 + 1}};
  for (const auto& t : timed) {
    ASSERT_TRUE(t.worker->done.load(std::memory_order_acquire));
    EXPECT_EQ(t.worker->progress.load(std::memory_order_acquire), 1.0f);
    EXPECT_EQ(t.worker->timeMs, t.timeMs);
    EXPECT_EQ(t.worker->score, scoreFromTime(t.timeMs, t.worker->loops));
    EXPECT_TRUE(t.worker->verbose);  // restored after the muted preheat
  }
  std::string pass = "\n";
  for (const char* tag : {"Ft 1  (1)", "Fs 1  (1460)", "Dt 1  (2)", "Ds 1  (1460)", "M 1 (-4)", "A64 1  (12000000)",
                          "A32 1 (12000000)", "AF 1  (15000000)", "AD 1  (15000000)", "P 1  (1754)", "S 1  (7.5953)"})
    pass += std::string("      t0:") + tag + "\n";
  EXPECT_EQ(out, "\n      t0:**********preheat done**********\n" + pass + pass + pass + "      totalTime 0.037\n");
}

}  // namespace
}  // namespace ps
