#include "bench/kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/maths_calls.h"
#include "bench/tick_clock.h"

extern "C" {
#define PS_COUNTED(name, counter)                        \
  double __real_##name(double);                          \
  double __wrap_##name(double x) {                       \
    ps::counter.fetch_add(1, std::memory_order_relaxed); \
    return __real_##name(x);                             \
  }
PS_COUNTED(sin, sinCalls)
PS_COUNTED(cos, cosCalls)
PS_COUNTED(atan, atanCalls)
double __real_pow(double, double);
double __wrap_pow(double x, double y) {
  ps::powCalls.fetch_add(1, std::memory_order_relaxed);
  return __real_pow(x, y);
}
}

namespace ps {

std::atomic<long> sinCalls{0}, cosCalls{0}, atanCalls{0}, powCalls{0};

namespace {

// Each sub-test's checksum and its calls of the double-precision maths library: the calls are the work,
// and no merged sin and cos, x*x for pow(x, 2), single-precision call nor other iteration count changes a
// printed checksum. The floating-point ones are checked before truncation, Ft and Dt up to the library's last-bit
// rounding.
TEST(KernelTest, SubTestChecksumsAndMathsCalls) {
  float scalarS = 0.0f;  // the four-wide fill must keep lane order and per-lane rounding
  for (int k = 1; k <= 20; ++k) scalarS = scalarS + sqrtf((float)k) / (float)k;
  const struct { const char* tag; std::function<double()> subTest; double checksum, tolerance; _mathsCalls calls; } cases[] = {
      {"Ft", trigSingleTest, 0x1.a95ce2p+0, 1e-5, {1200000, 3600000, 1200000, 0}},
      {"Fs", sqrtSingleTest, 0x1.6d0002p+10, 0, {0, 0, 0, 1200000}},
      {"Dt", trigDoubleTest, 0x1.47719db9a9d17p+1, 1e-9, {900000, 2700000, 900000, 0}},
      {"Ds", sqrtDoubleTest, 0x1.6d00000000001p+10, 0, {0, 0, 0, 900000}},
      {"A64", int64Test, 12000000, 0, {}},
      {"A32", int32Test, 12000000, 0, {}},
      {"AF", floatSingleTest, 0x1.c9c38p+23, 0, {}},
      {"AD", floatDoubleTest, 0x1.c9c38002d0d8ep+23, 0, {}},
      {"P", primeTest, 1754, 0, {}},
      {"S", sqrtTest, scalarS, 0, {}},
  };
  for (const auto& c : cases) {
    const _mathsCalls before = mathsCallsSoFar();
    EXPECT_NEAR(c.subTest(), c.checksum, c.tolerance) << c.tag;
    EXPECT_EQ(mathsCallsSoFar() - before, c.calls) << c.tag;
  }
  // The rest of the work of P and S shows in no checksum, only in the time.
  EXPECT_EQ(primeLimit, 15000);
  EXPECT_EQ(sqrtFills, 8000);
}

TEST(KernelTest, PrimesAreCountedUpToAndWithTheLimit) {
  const std::pair<int, int> cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 2}, {7, 4}, {8, 4}, {15000, 1754}};
  for (const auto& c : cases) EXPECT_EQ(countPrimes(c.first), c.second) << c.first;
}

// The first steps from the start values, where single and double part:
// Ft and Fs carry single values between library calls made in double.
TEST(KernelTest, FirstStepsKeepTheirPrecision) {
  const float singleTrig[] = {0x1.fff972p-2f, 0x1.fff72p-2f, 0x1.fff212p-2f, 0x1.ffeec8p-2f, 0x1.ffea5ap-2f, 0x1.ffe6a8p-2f};
  const double doubleTrig[] = {0x1.fff972474538fp-2, 0x1.fff7205a78c6ep-2, 0x1.fff2126560343p-2,
                               0x1.ffeec8b638611p-2, 0x1.ffea5aed1f304p-2, 0x1.ffe6a9e7ead07p-2};
  float x[14] = {0.5f, 0.5f};
  double d[8] = {0.5, 0.5};
  for (int i = 2; i < 14; ++i) x[i] = trigStepSingle(x[i - 2], x[i - 1]);
  for (int i = 2; i < 8; ++i) d[i] = trigStepDouble(d[i - 2], d[i - 1]);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(x[i + 2], singleTrig[i]) << i;
    EXPECT_NEAR(d[i + 2], doubleTrig[i], 1e-15) << i;  // the library may round the last bits either way
  }
  // The state after the first iteration of six steps, and a step whose sum
  // q + p and constant T each round differently in double.
  EXPECT_EQ(x[12], 0x1.ffd29ep-2f);
  EXPECT_EQ(x[13], 0x1.ffcea8p-2f);
  EXPECT_EQ(trigStepSingle(0.05f, 0x1.dc5d6ap-2f), 0x1.02fa7ap-4f);
  // The square of the single root of 113 is 113 plus a unit in single, in
  // double plus a unit in double.
  EXPECT_EQ(sqrtLinkSingle(113.0f), 0x1.c40002p+6f);
  EXPECT_EQ(sqrtLinkDouble(113.0), 0x1.c400000000001p+6);
  EXPECT_EQ(sqrtLinkSingle(33.0f), 33.0f);
}

// AF's steps as worked out by hand, and one from a state where b is small enough to keep every digit of the
// lift that even steps add.
TEST(KernelTest, FloatStepsRoundAsStated) {
  const struct { float a, b, sum; bool odd; float a2, b2, sum2; } cases[] = {
      {200.0f, 300.0f, 0.0f, true, 200.0f, 0x1.2c00dap+8f, 0x1.3f5c28p+2f},  // d = 301, sum 4.99, b 300.0033
      {200.0f, 0x1.2c00dap+8f, 0.0f, false, 200.0f, 300.0f, 0x1.40a462p+2f},   // back to 300
      {200.0f, 2.0f, 0.0f, false, 200.0f, 0x1.fe4c78p+0f, 0x1.03d70ap+1f},  // d = 1: b = 1/300 + 1.990021
  };
  for (const auto& c : cases) {
    float a = c.a, b = c.b, sum = c.sum;
    floatStepSingle(a, b, sum, c.odd);
    EXPECT_EQ(a, c.a2);
    EXPECT_EQ(b, c.b2);
    EXPECT_EQ(sum, c.sum2);
  }
}

// M's place follows the worker's index (mod 4): the pass reads the clock at its start and after each sub-test,
// and from M on buffer1 holds the fill 0x01.
const unsigned char* watched;
std::string filled;
DWORD watchingTick() {
  filled += watched[0] == 1 ? '1' : '0';
  return 0;
}

TEST(KernelTest, PassRunsMemoryStepWhereTheIndexPutsIt) {
  const _replacedSystemCalls clock(tickClock(watchingTick));
  const std::pair<int, const char*> cases[] = {{0, "000001111111"}, {2, "000000011111"}, {5, "000000111111"},
                                               {7, "000000001111"}};  // start, Ft, Fs, Dt, Ds, A64, A32, AF
  for (const auto& c : cases) {
    std::vector<unsigned char> b1(64, 0), b2(64, 0);
    watched = b1.data();
    filled.clear();
    psKernel(_kernelInput{b1.data(), b2.data(), 64, 1, c.first, false}, 1, 1);
    EXPECT_EQ(filled, c.second) << "index " << c.first;
  }
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

int memoryOn(unsigned char* b1, unsigned char* b2, int size, int memPasses) {
  return memoryTest(_kernelInput{b1, b2, size, memPasses, 0, false});
}

TEST(KernelTest, MemoryTestCopiesThenFills) {
  const struct { unsigned char start1, start2; int size, memPasses, expected; unsigned char end1, end2; } cases[] = {
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
}

}  // namespace
}  // namespace ps
