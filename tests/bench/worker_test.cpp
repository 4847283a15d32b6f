#include "bench/worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <tuple>

#include "bench/maths_calls.h"

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

size_t count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

// Two short workers side by side: worker 0 prints its lines, worker 1 does not.
TEST(WorkerTest, ShortRunsScoreAndFinish) {
  int index0 = 0, index1 = 1;
  _psTestSingle first(index0), second(index1);
  first.loops = 3;  // one muted preheat pass, then three printed passes
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
  for (_psTestSingle* worker : {&first, &second}) {
    ASSERT_TRUE(worker->done.load(std::memory_order_acquire));
    EXPECT_EQ(worker->progress.load(std::memory_order_acquire), 1.0f);
    EXPECT_DOUBLE_EQ(worker->score, 4333.0 / ((double)worker->timeMs / worker->loops));
    EXPECT_TRUE(worker->verbose);  // restored after the muted preheat
  }
  EXPECT_EQ(out.rfind("\n      t0:**********preheat done**********\n\n      t0:Ft ", 0), 0u) << out;
  char total[64];
  snprintf(total, sizeof total, "      totalTime %5.3f\n", (double)((float)first.timeMs / 1000.0f));
  EXPECT_EQ(out.substr(out.size() - std::min(out.size(), strlen(total))), total) << out;
  EXPECT_EQ(count(out, "preheat done"), 1u) << out;
  EXPECT_EQ(count(out, "totalTime"), 1u) << out;
  // Three passes of lines, from worker 0's timed passes only.
  EXPECT_EQ(count(out, "t0:Ft"), 3u) << out;

  // The timer brackets the timed passes, whose laps the lines show, and not
  // the pause or the preheat (a fourth pass). Each lap loses under 1 ms.
  const std::regex lap("t0:\\w+ (\\d+) ");
  long laps = 0;
  for (std::sregex_iterator m(out.begin(), out.end(), lap), end; m != end; ++m) laps += std::stol((*m)[1]);
  EXPECT_GE(first.timeMs + 1, laps) << out;
  EXPECT_LE(first.timeMs, laps + 33 + laps / 6) << out;
}

}  // namespace
}  // namespace ps
