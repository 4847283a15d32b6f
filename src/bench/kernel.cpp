// The benchmark kernel. Every operation below is rounded on its own, in the
// order written: the file is built without FMA contraction or fast-math, and
// with sin, cos, atan and pow as plain library calls
// (cmake/compile-settings.cmake), so the compiler neither merges sin and cos
// into sincos nor turns pow(x, 2.0) into x*x.
#include "bench/kernel.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define PS_SQRT_SSE 1
#endif

#include "base/clocks.h"

namespace ps {

namespace {

// Hides a value from the optimiser so that no arithmetic around it is folded
// away; costs no instruction.
template <class T>
inline void opaque(T& value) {
#if defined(__GNUC__)
  asm("" : "+r"(value));
#else
  (void)value;
#endif
}

// The same for a double in a floating-point register. Used where GCC would
// otherwise narrow single(sqrt(double(u))) to a single-precision root: equal
// in value, but not the double-precision call the sub-test is made of.
inline double opaqueDouble(double value) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  asm("" : "+x"(value));
#elif defined(__GNUC__) && defined(__aarch64__)
  asm("" : "+w"(value));
#endif
  return value;
}

// Makes a result count as used, so its computation always runs.
template <class T>
inline void keep(const T& value) {
#if defined(__GNUC__)
  asm volatile("" : : "r,m"(value));
#else
  volatile T sink = value;
  (void)sink;
#endif
}

// Every byte written to p up to here must really be in memory.
inline void commitMemory(const void* p) {
#if defined(__GNUC__)
  asm volatile("" : : "r"(p) : "memory");
#else
  (void)p;
#endif
}

}  // namespace

// One update of the trigonometric recurrence in single precision: library
// calls in double, the differences and sums of the two values in single.
float trigStepSingle(float p, float q) {
  const double t = (double)0.499975f;
  double pd = (double)p;
  double numerator = (sin(pd) * 2.0) * cos(pd);
  double denominator = cos((double)(float)(p - q)) + cos((double)(float)(q + p)) - 1.0;
  return (float)(atan(numerator / denominator) * t);
}

double trigStepDouble(double p, double q) {
  const double t = 0.499975;
  double numerator = (sin(p) * 2.0) * cos(p);
  double denominator = cos(p - q) + cos(q + p) - 1.0;
  return atan(numerator / denominator) * t;
}

bool shouldPrint(int pass, int passes) {
  int q = passes / 3;
  return pass == 1 || pass == q || pass == 2 * q || pass == passes;
}

void passOrder(int index, _kernelStep order[kernelStepCount]) {
  static const _kernelStep fixedSteps[] = {stepFt,  stepFs, stepDt, stepDs, stepA64,
                                           stepA32, stepAF, stepAD, stepP,  stepS};
  // M goes in front of fixed step 4 (A64), 5, 6 or 7 (AD).
  int place = index % 4;
  if (place < 0) place += 4;
  int at = 4 + place;
  int n = 0;
  for (int i = 0; i < kernelStepCount - 1; ++i) {
    if (i == at) order[n++] = stepM;
    order[n++] = fixedSteps[i];
  }
}

// The tests call the step functions, so they are emitted on their own; the
// four chained sub-tests still take them inline, so a pass pays no call per
// step.
#if defined(__GNUC__)
#define PS_INLINE_CALLEES __attribute__((flatten))
#else
#define PS_INLINE_CALLEES
#endif

// Ft and Dt: x and y drift slowly down; the lift keeps them from settling
// once y falls under 0.05.
template <class T, T (*step)(T, T)>
T trigTest(int iterations) {
  T x = (T)0.5;
  T y = (T)0.5;
  for (int i = 0; i < iterations; ++i) {
    for (int k = 0; k < 6; ++k) {
      x = step(x, y);
      y = step(y, x);
      if ((T)0.05 > y) {
        y = (T)0.7;
        x = x + (T)0.4;
      }
    }
  }
  return (T)10.0 * y + (T)10.0 * x;
}

// Fs and Ds: ten links of each chain per iteration.
template <class T, T (*link)(T)>
T sqrtChainTest(int iterations) {
  T u = (T)33.0;
  T w = (T)113.0;
  for (int i = 0; i < iterations; ++i) {
    for (int k = 0; k < 10; ++k) u = link(u);
    for (int k = 0; k < 10; ++k) w = link(w);
  }
  return (T)10.0 * w + (T)10.0 * u;
}

float sqrtLinkSingle(float v) { return (float)pow((double)(float)sqrt(opaqueDouble((double)v)), 2.0); }
double sqrtLinkDouble(double v) { return pow(sqrt(v), 2.0); }

PS_INLINE_CALLEES float trigSingleTest() { return trigTest<float, trigStepSingle>(100000); }
PS_INLINE_CALLEES double trigDoubleTest() { return trigTest<double, trigStepDouble>(75000); }
PS_INLINE_CALLEES float sqrtSingleTest() { return sqrtChainTest<float, sqrtLinkSingle>(60000); }
PS_INLINE_CALLEES double sqrtDoubleTest() { return sqrtChainTest<double, sqrtLinkDouble>(45000); }

int int64Test() {
  int64_t a = 20000;
  int64_t b = 30000;
  int64_t sum = 0;
  for (int64_t k = 1; k <= 3000000; ++k) {
    int64_t s = a + b;
    int64_t c = b + s;
    int64_t d = c - ((k & 1) ? s - 1 : s + 1);
    sum += (c - 2 * d) / 10000 + d / 10000;
    int64_t square = d * d;
    int64_t scaled = square * 20000;
    // Without this, GCC folds (x*20000)/x to 20000 and the division is gone.
    opaque(scaled);
    a = scaled / square;
    b = square / (2 * a) / a * 30000;
    if (k & 1) b -= 2;
  }
  return (int)(uint32_t)(uint64_t)sum;
}

int int32Test() {
  int32_t a = 200;
  int32_t b = 300;
  int32_t sum = 0;
  for (int32_t k = 1; k <= 3000000; ++k) {
    int32_t s = a + b;
    int32_t c = b + s;
    int32_t d = c - ((k & 1) ? s - 1 : s + 1);
    sum += (c - 2 * d) / 100 + d / 100;
    int32_t square = d * d;
    int32_t scaled = square * 200;
    opaque(scaled);
    a = scaled / square;
    b = square / (2 * a) / a * 300;
    if (k & 1) b -= 2;
  }
  return sum;
}

// AF and AD: the same recurrence at two scales. In AF the part of b before
// the lift is computed in double and rounded to single.
template <class T>
void floatStep(T& a, T& b, T& sum, bool odd, T scale, T lift) {
  T s = a + b;
  T c = b + s;
  T d = c - (odd ? s + (T)(-1.0) : s + (T)1.0);
  sum = sum + (((c - d) - d) / scale + d / scale);
  T e = d * d;
  a = ((d * (2 * scale)) * d) / e;
  b = (T)((double)e / ((double)a * 2.25) / (double)a * (double)(3 * scale)) + (odd ? (T)(-2.0) : lift);
}

void floatStepSingle(float& a, float& b, float& sum, bool odd) { floatStep(a, b, sum, odd, 100.0f, 1.990021f); }
void floatStepDouble(double& a, double& b, double& sum, bool odd) {
  floatStep(a, b, sum, odd, 10000.0, 1.999900002229);
}

template <class T, void (*step)(T&, T&, T&, bool)>
T floatRecurrenceTest(T a, T b) {
  T sum = 0;
  for (int k = 1; k <= 3000000; ++k) step(a, b, sum, (k & 1) != 0);
  return sum;
}

PS_INLINE_CALLEES float floatSingleTest() { return floatRecurrenceTest<float, floatStepSingle>(200.0f, 300.0f); }
PS_INLINE_CALLEES double floatDoubleTest() { return floatRecurrenceTest<double, floatStepDouble>(20000.0, 30000.0); }

int primeTest() { return countPrimes(primeLimit); }

int countPrimes(int limit) {
  int count = 0;
  for (int n = 1; n <= limit; ++n) {
    // No square-root bound: a prime costs n - 1 trial divisions.
    int c = 2;
    if (n >= 2) {
      while (n % c != 0) ++c;
    }
    if (c == n) ++count;
  }
  return count;
}

int memoryTest(const _kernelInput& input) {
  unsigned char* b1 = input.buffer1;
  unsigned char* b2 = input.buffer2;
  const int size = input.bufferSize;
  if (!b1 || !b2 || size < 2) return 0;
  int sum = 0;
  for (int r = 1; r <= input.memPasses; ++r) {
    // The barriers keep each copy and fill whole: the compiler could
    // otherwise see the copy back as redundant and the copies as overwritten.
    memcpy(b1, b2, (size_t)size);
    commitMemory(b1);
    memcpy(b2, b1, (size_t)size);
    commitMemory(b2);
    int i = rand() % size;
    int j = rand() % size;
    int t = (signed char)b1[1] + (signed char)b2[1] + (signed char)b2[i] +
            (signed char)b2[size - 1] + (signed char)b1[size - 1] + (signed char)b1[j];
    sum += t / 100;
    memset(b1, 0x01, (size_t)size);
    commitMemory(b1);
    memset(b2, 0xD5, (size_t)size);
    commitMemory(b2);
  }
  return sum;
}

float sqrtTest() {
  const int count = 16000;
  const size_t bytes = (size_t)count * sizeof(float);
#ifdef PS_SQRT_SSE
  float* values = (float*)_mm_malloc(bytes, 16);
#elif defined(_WIN32)
  float* values = (float*)_aligned_malloc(bytes, 16);
#else
  float* values = (float*)aligned_alloc(16, bytes);
#endif
  if (!values) return 0.0f;

  for (int fill = 0; fill < sqrtFills; ++fill) {
#ifdef PS_SQRT_SSE
    __m128 x = _mm_setr_ps(1.0f, 2.0f, 3.0f, 4.0f);
    const __m128 four = _mm_set1_ps(4.0f);
    for (int j = 0; j < count; j += 4) {
      _mm_store_ps(values + j, _mm_div_ps(_mm_sqrt_ps(x), x));
      x = _mm_add_ps(x, four);
    }
#else
    float x = 1.0f;
    for (int j = 0; j < count; ++j) {
      values[j] = sqrtf(x) / x;
      x = x + 1.0f;
    }
#endif
    // Every fill is stored, although only the first twenty values are read.
    commitMemory(values);
  }

  float sum = 0.0f;
  for (int j = 0; j < 20; ++j) sum = sum + values[j];

#ifdef PS_SQRT_SSE
  _mm_free(values);
#elif defined(_WIN32)
  _aligned_free(values);
#else
  free(values);
#endif
  return sum;
}

namespace {

// Every checksum is consumed whether or not its line is written. The lap is
// taken at every sub-test's end, so each printed time is that of its own
// sub-test (and the order of the sub-tests shows on the clock).
void line(bool print, _tickTimer& timer, const char* format, int checksum) {
  keep(checksum);
  const int lap = timer.lap();
  if (print) printf(format, lap, checksum);
}

}  // namespace

void psKernel(const _kernelInput& input, int pass, int passes) {
  _tickTimer timer;
  const bool print = input.verbose && input.index == 0 && shouldPrint(pass, passes);

  _kernelStep order[kernelStepCount];
  passOrder(input.index, order);
  for (int n = 0; n < kernelStepCount; ++n) {
    switch (order[n]) {
      case stepFt: line(print, timer, "\n      t0:Ft %d  (%d)\n", (int)trigSingleTest()); break;
      case stepFs: line(print, timer, "      t0:Fs %d  (%d)\n", (int)sqrtSingleTest()); break;
      case stepDt: line(print, timer, "      t0:Dt %d  (%d)\n", (int)trigDoubleTest()); break;
      case stepDs: line(print, timer, "      t0:Ds %d  (%d)\n", (int)sqrtDoubleTest()); break;
      case stepM: line(print, timer, "      t0:M %d (%d)\n", memoryTest(input)); break;
      case stepA64: line(print, timer, "      t0:A64 %d  (%d)\n", int64Test()); break;
      case stepA32: line(print, timer, "      t0:A32 %d (%d)\n", int32Test()); break;
      case stepAF: line(print, timer, "      t0:AF %d  (%d)\n", (int)floatSingleTest()); break;
      case stepAD: line(print, timer, "      t0:AD %d  (%d)\n", (int)floatDoubleTest()); break;
      case stepP: line(print, timer, "      t0:P %d  (%d)\n", primeTest()); break;
      case stepS: {
        float v = sqrtTest();
        keep(v);
        const int lap = timer.lap();
        if (print) printf("      t0:S %d  (%5.4f)\n", lap, (double)v);
        break;
      }
    }
  }
}

}  // namespace ps
