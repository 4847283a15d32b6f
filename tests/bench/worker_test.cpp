#include "bench/worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace ps {
namespace {

TEST(WorkerTest, ScoreFromTime) {
  const struct { int64_t timeMs; int passes; double score; } cases[] = {
      {2000, 100, 216.65},
      {0, 100, 4333.0 / (double)0.0001f},  // a phase can measure 0 ms
      {5, 0, 0.0},                         // no passes, no score
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(scoreFromTime(c.timeMs, c.passes), c.score) << c.timeMs << " / " << c.passes;
  EXPECT_NEAR(scoreFromTime(0, 100), 43330001.0, 1.0);
}

TEST(WorkerTest, ProcessorGroupsAreDealtRoundRobin) {
  const struct { int index, groups, group; } cases[] = {{3, 2, 1}, {4, 2, 0}, {5, 3, 2}, {3, 1, -1}, {0, 0, -1}};
  for (const auto& c : cases)
    EXPECT_EQ(processorGroupFor(c.index, c.groups), c.group) << c.index << " of " << c.groups;
}

TEST(WorkerTest, NewWorkerHasZeroedBuffersAndIsNotDone) {
  int index = 3;
  _psTestSingle worker(index);
  EXPECT_EQ(worker.loops, 100);
  EXPECT_EQ(worker.memPasses, 2);
  EXPECT_FALSE(worker.done.load());
  ASSERT_EQ(worker.bufferSize, 10485760);
  ASSERT_TRUE(worker.buffer1 && worker.buffer2);
  EXPECT_EQ(worker.buffer1[0] | worker.buffer2[worker.bufferSize - 1], 0);
}

// Two short workers side by side: worker 0 prints its lines, worker 1 does not.
TEST(WorkerTest, ShortRunsScoreAndFinish) {
  int index0 = 0, index1 = 1;
  _psTestSingle first(index0), second(index1);
  first.loops = 3;  // one muted preheat pass, then three printed passes
  second.loops = 1;
  first.verbose = second.verbose = true;
  testing::internal::CaptureStdout();
  first.start();
  second.start();
  first.wait();
  second.wait();
  fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();

  for (_psTestSingle* worker : {&first, &second}) {
    ASSERT_TRUE(worker->done.load(std::memory_order_acquire));
    EXPECT_EQ(worker->progress.load(std::memory_order_acquire), 1.0f);
    EXPECT_DOUBLE_EQ(worker->score, scoreFromTime(worker->timeMs, worker->loops));
    EXPECT_TRUE(worker->verbose);  // restored after the muted preheat
  }
  const std::string preheat = "\n      t0:**********preheat done**********\n\n      t0:Ft ";
  EXPECT_EQ(out.compare(0, preheat.size(), preheat), 0) << out;
  char total[64];
  snprintf(total, sizeof total, "      totalTime %5.3f\n", (double)((float)first.timeMs / 1000.0f));
  EXPECT_EQ(out.substr(out.size() - std::min(out.size(), strlen(total))), total) << out;
  // Three passes of lines, from worker 0's timed passes only.
  int passesPrinted = 0;
  for (size_t at = out.find("t0:Ft"); at != std::string::npos; at = out.find("t0:Ft", at + 1)) ++passesPrinted;
  EXPECT_EQ(passesPrinted, 3) << out;
}

}  // namespace
}  // namespace ps
