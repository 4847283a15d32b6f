#include "bench/kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "base/clocks.h"
#include "bench/worker.h"

namespace ps {
namespace {

std::string capturedPass(_psTestSingle& worker) {
  int pass = 1;
  testing::internal::CaptureStdout();
  psKernel(&worker, &pass, &pass);
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// One real pass after a silent one, so M reads buffers a pass has filled.
TEST(KernelTest, PrintedPassShowsEveryChecksumInItsLine) {
  int index = 1;  // only worker 0 prints
  _psTestSingle worker(index);
  worker.verbose = true;
  EXPECT_EQ(capturedPass(worker), "");
  worker.index = 0;
  _tickTimer outer;
  const std::string out = capturedPass(worker);
  const int elapsed = outer.elapsedMs();

  // The laps vary; the rest of each line is fixed.
  const std::regex lap("(t0:\\w+) (\\d+) ");
  EXPECT_EQ(std::regex_replace(out, lap, "$1 # "),
            "\n      t0:Ft #  (1)\n      t0:Fs #  (1460)\n      t0:Dt #  (2)\n"
            "      t0:Ds #  (1460)\n      t0:M # (-4)\n      t0:A64 #  (12000000)\n"
            "      t0:A32 # (12000000)\n      t0:AF #  (15000000)\n      t0:AD #  (15000000)\n"
            "      t0:P #  (1754)\n      t0:S #  (7.5953)\n");
  // Each time is its own sub-test's lap, so together they fit in the pass.
  int laps = 0;
  for (std::sregex_iterator m(out.begin(), out.end(), lap), end; m != end; ++m) laps += std::stoi((*m)[2]);
  EXPECT_LE(laps, elapsed + 2) << out;
}

TEST(KernelTest, SqrtTestMatchesScalarSum) {
  // The four-wide fill must keep lane order and per-lane rounding.
  float expected = 0.0f;
  for (int k = 1; k <= 20; ++k) expected = expected + sqrtf((float)k) / (float)k;
  EXPECT_EQ(sqrtTest(), expected);
}

TEST(KernelTest, PrintRule) {
  const std::pair<int, std::vector<int>> cases[] = {{100, {1, 33, 66, 100}}, {7, {1, 2, 4, 7}}, {2, {1, 2}}, {1, {1}}};
  for (const auto& c : cases) {
    std::vector<int> printed;
    for (int pass = 1; pass <= c.first; ++pass)
      if (shouldPrint(pass, c.first)) printed.push_back(pass);
    EXPECT_EQ(printed, c.second) << "passes " << c.first;
  }
}

TEST(KernelTest, MemoryStepMovesWithIndex) {
  const std::pair<int, _kernelStep> cases[] = {{0, stepDs}, {2, stepA32}, {5, stepA64}, {7, stepAF}};
  for (const auto& c : cases) {
    std::vector<_kernelStep> expected = {stepFt, stepFs, stepDt, stepDs, stepA64, stepA32, stepAF, stepAD, stepP, stepS};
    expected.insert(std::find(expected.begin(), expected.end(), c.second) + 1, stepM);
    _kernelStep order[kernelStepCount];
    passOrder(c.first, order);
    EXPECT_EQ(std::vector<_kernelStep>(order, order + kernelStepCount), expected) << "index " << c.first;
  }
}

// memoryTest on small buffers lent to a worker; its own go back for the destructor.
int memoryOn(unsigned char* b1, unsigned char* b2, int size, int memPasses) {
  int index = 0;
  _psTestSingle worker(index);
  unsigned char* own[2] = {worker.buffer1, worker.buffer2};
  worker.buffer1 = b1;
  worker.buffer2 = b2;
  worker.bufferSize = size;
  worker.memPasses = memPasses;
  int result = memoryTest(&worker);
  worker.buffer1 = own[0];
  worker.buffer2 = own[1];
  return result;
}

TEST(KernelTest, MemoryTestCopiesThenFills) {
  const struct {
    unsigned char start1, start2;
    int size, memPasses, expected;
    unsigned char end1, end2;
  } cases[] = {
      {0x01, 0xD5, 64, 2, -4, 0x01, 0xD5},  // the state a pass leaves: buffer2 is copied first
      {0x00, 0x00, 64, 2, -2, 0x01, 0xD5},
      {0x11, 0x22, 64, 0, 0, 0x11, 0x22},  // nothing to do touches nothing
      {0x11, 0x22, 1, 2, 0, 0x11, 0x22},   // too small to hold the bytes it reads
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> b1(64, c.start1), b2(64, c.start2);
    EXPECT_EQ(memoryOn(b1.data(), b2.data(), c.size, c.memPasses), c.expected) << c.memPasses << " passes";
    EXPECT_EQ(b1, std::vector<unsigned char>(64, c.end1));
    EXPECT_EQ(b2, std::vector<unsigned char>(64, c.end2));
  }
  unsigned char b[64] = {};
  EXPECT_EQ(memoryOn(nullptr, b, 64, 2), 0);
  EXPECT_EQ(memoryOn(b, nullptr, 64, 2), 0);
  EXPECT_EQ(memoryTest(nullptr), 0);
}

}  // namespace
}  // namespace ps
