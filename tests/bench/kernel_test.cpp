#include "bench/kernel.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/clocks.h"
#include "bench/worker.h"

namespace ps {
namespace {

std::string capturedPass(_psTestSingle& worker, int pass, int passes) {
  testing::internal::CaptureStdout();
  psKernel(&worker, &pass, &passes);
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// One real pass after a silent one, so M reads buffers a pass has filled.
TEST(KernelTest, PrintedPassShowsEveryChecksumInItsLine) {
  int index = 0;
  _psTestSingle worker(index);
  worker.verbose = true;

  worker.index = 1;  // only worker 0 prints
  EXPECT_EQ(capturedPass(worker, 1, 1), "");
  worker.index = 0;

  _tickTimer outer;
  std::string out = capturedPass(worker, 1, 1);
  int elapsed = outer.elapsedMs();

  // Each line: its text, the lap in milliseconds, then the checksum.
  const struct {
    const char* head;
    const char* tail;
  } lines[] = {
      {"\n      t0:Ft ", "  (1)\n"},          {"      t0:Fs ", "  (1460)\n"},
      {"      t0:Dt ", "  (2)\n"},            {"      t0:Ds ", "  (1460)\n"},
      {"      t0:M ", " (-4)\n"},             {"      t0:A64 ", "  (12000000)\n"},
      {"      t0:A32 ", " (12000000)\n"},     {"      t0:AF ", "  (15000000)\n"},
      {"      t0:AD ", "  (15000000)\n"},     {"      t0:P ", "  (1754)\n"},
      {"      t0:S ", "  (7.5953)\n"},
  };
  size_t at = 0;
  int laps = 0;
  for (const auto& line : lines) {
    ASSERT_EQ(out.compare(at, strlen(line.head), line.head), 0) << line.head << "in\n" << out;
    at += strlen(line.head);
    size_t digits = 0;
    while (at + digits < out.size() && isdigit((unsigned char)out[at + digits])) ++digits;
    ASSERT_GT(digits, 0u) << line.head << "in\n" << out;
    laps += std::stoi(out.substr(at, digits));
    at += digits;
    ASSERT_EQ(out.compare(at, strlen(line.tail), line.tail), 0) << line.head << "in\n" << out;
    at += strlen(line.tail);
  }
  EXPECT_EQ(at, out.size()) << out;

  // Each time is its own sub-test's lap, so together they fit in the pass.
  EXPECT_LE(laps, elapsed + 2) << out;
}

TEST(KernelTest, SqrtTestMatchesScalarSum) {
  // Lane order and per-lane rounding: the four-wide fill must give exactly
  // the scalar values.
  float expected = 0.0f;
  for (int k = 1; k <= 20; ++k) expected = expected + sqrtf((float)k) / (float)k;
  EXPECT_EQ(sqrtTest(), expected);
}

TEST(KernelTest, PrintRule) {
  struct Case {
    int passes;
    std::vector<int> printed;
  };
  const Case cases[] = {{100, {1, 33, 66, 100}}, {7, {1, 2, 4, 7}}, {2, {1, 2}}, {1, {1}}, {3, {1, 2, 3}}};
  for (const Case& c : cases) {
    std::vector<int> printed;
    for (int pass = 1; pass <= c.passes; ++pass)
      if (shouldPrint(pass, c.passes)) printed.push_back(pass);
    EXPECT_EQ(printed, c.printed) << "passes " << c.passes;
  }
}

TEST(KernelTest, MemoryStepMovesWithIndex) {
  const _kernelStep fixedSteps[] = {stepFt, stepFs, stepDt, stepDs, stepA64, stepA32, stepAF, stepAD, stepP, stepS};
  // Index -> the step M follows.
  const struct {
    int index;
    _kernelStep after;
  } cases[] = {{0, stepDs}, {1, stepA64}, {2, stepA32}, {3, stepAF}, {4, stepDs}, {5, stepA64}, {7, stepAF}};
  for (const auto& c : cases) {
    _kernelStep order[kernelStepCount];
    passOrder(c.index, order);
    std::vector<_kernelStep> others;
    int memoryAt = -1;
    for (int i = 0; i < kernelStepCount; ++i) {
      if (order[i] == stepM) {
        EXPECT_EQ(memoryAt, -1) << "index " << c.index;
        memoryAt = i;
      } else {
        others.push_back(order[i]);
      }
    }
    ASSERT_GT(memoryAt, 0) << "index " << c.index;
    EXPECT_EQ(order[memoryAt - 1], c.after) << "index " << c.index;
    EXPECT_EQ(others, std::vector<_kernelStep>(std::begin(fixedSteps), std::end(fixedSteps)));
  }
}

// memoryTest on small buffers swapped into a worker.
class MemoryTest : public testing::Test {
 protected:
  static const int size = 64;
  int index = 0;
  _psTestSingle worker{index};
  unsigned char* own1 = nullptr;
  unsigned char* own2 = nullptr;
  unsigned char b1[size];
  unsigned char b2[size];

  void SetUp() override {
    own1 = worker.buffer1;
    own2 = worker.buffer2;
    worker.buffer1 = b1;
    worker.buffer2 = b2;
    worker.bufferSize = size;
  }
  void TearDown() override {
    worker.buffer1 = own1;
    worker.buffer2 = own2;
  }
  bool filled(const unsigned char* b, unsigned char value) {
    for (int i = 0; i < size; ++i)
      if (b[i] != value) return false;
    return true;
  }
};

TEST_F(MemoryTest, CopiesThenFills) {
  const struct {
    unsigned char start1, start2;
    int memPasses, expected;
  } cases[] = {
      // The state a pass leaves: buffer2 is copied over buffer1 first.
      {0x01, 0xD5, 1, -2},
      {0x01, 0xD5, 2, -4},
      {0x00, 0x00, 2, -2},
      {0x00, 0x00, 1, 0},
  };
  for (const auto& c : cases) {
    memset(b1, c.start1, size);
    memset(b2, c.start2, size);
    worker.memPasses = c.memPasses;
    EXPECT_EQ(memoryTest(&worker), c.expected) << c.memPasses << " from " << (int)c.start1;
    EXPECT_TRUE(filled(b1, 0x01));
    EXPECT_TRUE(filled(b2, 0xD5));
  }
}

TEST_F(MemoryTest, NothingToDoGivesZeroAndTouchesNothing) {
  memset(b1, 0x11, size);
  memset(b2, 0x22, size);
  worker.memPasses = 0;
  EXPECT_EQ(memoryTest(&worker), 0);
  worker.memPasses = 2;
  worker.buffer1 = nullptr;
  EXPECT_EQ(memoryTest(&worker), 0);
  worker.buffer1 = b1;
  worker.buffer2 = nullptr;
  EXPECT_EQ(memoryTest(&worker), 0);
  worker.buffer2 = b2;
  worker.bufferSize = 1;  // too small to hold the bytes it reads
  EXPECT_EQ(memoryTest(&worker), 0);
  EXPECT_EQ(memoryTest(nullptr), 0);
  EXPECT_TRUE(filled(b1, 0x11));
  EXPECT_TRUE(filled(b2, 0x22));
}

}  // namespace
}  // namespace ps
