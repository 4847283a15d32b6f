// One pass of the benchmark kernel: eleven fixed sub-tests, each ending in a
// checksum that worker 0 prints in verbose mode. Every iteration count is a
// constant, so a pass is the same amount of work on every machine.
#pragma once

namespace ps {

// What a pass reads of its worker.
struct _kernelInput {
  unsigned char* buffer1;  // M copies between the two buffers
  unsigned char* buffer2;
  int bufferSize;          // bytes in each buffer
  int memPasses;           // M's copies and fills per pass
  int index;               // sets M's place; only worker 0 prints
  bool verbose;
};

// One pass for a worker. pass is 1-based, passes the pass count of the
// current phase.
void psKernel(const _kernelInput& input, int pass, int passes);

// Lines are written in passes 1, passes/3, 2*(passes/3) and the last.
bool shouldPrint(int pass, int passes);

// The sub-tests in the order of a pass; M moves with the worker index.
enum _kernelStep : int {
  stepFt,
  stepFs,
  stepDt,
  stepDs,
  stepM,
  stepA64,
  stepA32,
  stepAF,
  stepAD,
  stepP,
  stepS
};
constexpr int kernelStepCount = 11;

// Fills order with the steps of a pass for a worker: M runs after Ds, A64,
// A32 or AF for index mod 4 = 0, 1, 2, 3, so neighbouring workers go to
// main memory at different points of their passes.
void passOrder(int index, _kernelStep order[kernelStepCount]);

// One step of the Ft and Dt recurrence, and one link of the Fs and Ds chains.
// The single-precision ones call the double-precision library and round the
// carried values to single at the stated points.
float trigStepSingle(float p, float q);
double trigStepDouble(double p, double q);
float sqrtLinkSingle(float v);
double sqrtLinkDouble(double v);

// One step of AF on a, b and the running sum, in single precision with one
// part in double: odd steps lower b by 2, even ones lift it by 1.990021. AD
// is the same in double at a hundred times the scale.
void floatStepSingle(float& a, float& b, float& sum, bool odd);
void floatStepDouble(double& a, double& b, double& sum, bool odd);

// P counts the primes up to primeLimit; S fills its block sqrtFills times.
// Neither number shows in a checksum, only in the time a pass takes.
constexpr int primeLimit = 15000;
constexpr int sqrtFills = 8000;
// Primes from 1 to limit by trial division without a square-root bound.
int countPrimes(int limit);

// The sub-tests, each returning its checksum; the floating-point ones in
// their own precision, printed truncated to int.
float trigSingleTest();  // Ft
float sqrtSingleTest();  // Fs
double trigDoubleTest(); // Dt
double sqrtDoubleTest(); // Ds
int int64Test();         // A64
int int32Test();         // A32
float floatSingleTest(); // AF
double floatDoubleTest();// AD
int primeTest();         // P

// M: copies and fills the worker's buffers memPasses times. 0 without work
// when a buffer is missing, memPasses is below 1 or bufferSize below 2.
int memoryTest(const _kernelInput& input);

// S: four-lane square-root fill of a 64,000-byte block. 0.0 when the block
// cannot be allocated.
float sqrtTest();

}  // namespace ps
