#include "bench/worker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace {

TEST(WorkerTest, ScoreFromTime) {
  const struct {
    int64_t timeMs;
    int passes;
    double score;
  } cases[] = {
      {2000, 100, 216.65},
      {4333, 100, 100.0},
      {0, 100, 4333.0 / (double)0.0001f},  // about 43,330,001
      {0, 7, 4333.0 / (double)0.0001f},
      {5, 0, 0.0},  // no passes, no score
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(scoreFromTime(c.timeMs, c.passes), c.score) << c.timeMs << " / " << c.passes;
  EXPECT_NEAR(scoreFromTime(0, 100), 43330001.0, 1.0);
}

TEST(WorkerTest, ProcessorGroupsAreDealtRoundRobin) {
  const struct {
    int index, groups, group;
  } cases[] = {{3, 2, 1}, {4, 2, 0}, {0, 2, 0}, {5, 3, 2}, {3, 1, -1}, {0, 0, -1}};
  for (const auto& c : cases)
    EXPECT_EQ(processorGroupFor(c.index, c.groups), c.group) << c.index << " of " << c.groups;
}

TEST(WorkerTest, ConstructorDefaults) {
  int index = 3;
  _psTestSingle worker(index);
  EXPECT_EQ(worker.index, 3);
  EXPECT_EQ(worker.loops, 100);
  EXPECT_EQ(worker.memPasses, 2);
  EXPECT_EQ(worker.bufferSize, 10485760);
  EXPECT_EQ(worker.group, processorGroupFor(3, (int)GetActiveProcessorGroupCount()));
  EXPECT_FALSE(worker.done.load());
  EXPECT_FALSE(worker.verbose);
  EXPECT_EQ(worker.timeMs, 0);
  EXPECT_EQ(worker.score, 0.0);
  EXPECT_EQ(worker.progress.load(), 0.0f);
  ASSERT_NE(worker.buffer1, nullptr);
  ASSERT_NE(worker.buffer2, nullptr);
  EXPECT_EQ(worker.buffer1[0], 0);
  EXPECT_EQ(worker.buffer2[worker.bufferSize - 1], 0);
  EXPECT_EQ(worker.parent(), nullptr);
}

// Two short workers side by side: worker 0 prints its lines, worker 1 does not.
TEST(WorkerTest, ShortRunsScoreAndFinish) {
  int index0 = 0;
  int index1 = 1;
  _psTestSingle first(index0);
  _psTestSingle second(index1);
  first.loops = 3;  // one muted preheat pass, then three printed passes
  second.loops = 1;
  first.verbose = true;
  second.verbose = true;

  testing::internal::CaptureStdout();
  first.start();
  second.start();
  first.wait();
  second.wait();
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();

  for (_psTestSingle* worker : {&first, &second}) {
    ASSERT_TRUE(worker->done.load(std::memory_order_acquire));
    EXPECT_EQ(worker->progress.load(std::memory_order_acquire), 1.0f);
    EXPECT_GE(worker->timeMs, 0);
    EXPECT_DOUBLE_EQ(worker->score, scoreFromTime(worker->timeMs, worker->loops));
    EXPECT_TRUE(worker->verbose);  // restored after the muted preheat
  }

  const std::string preheat = "\n      t0:**********preheat done**********\n\n      t0:Ft ";
  EXPECT_EQ(out.compare(0, preheat.size(), preheat), 0) << out;
  EXPECT_NE(out.find("      t0:S "), std::string::npos) << out;
  char total[64];
  snprintf(total, sizeof(total), "      totalTime %5.3f\n", (double)((float)first.timeMs / 1000.0f));
  ASSERT_GE(out.size(), strlen(total));
  EXPECT_EQ(out.substr(out.size() - strlen(total)), total) << out;
  // Three passes of lines, from worker 0's timed passes only.
  int passesPrinted = 0;
  for (size_t at = out.find("t0:Ft"); at != std::string::npos; at = out.find("t0:Ft", at + 1)) ++passesPrinted;
  EXPECT_EQ(passesPrinted, 3) << out;
}

}  // namespace
}  // namespace ps
