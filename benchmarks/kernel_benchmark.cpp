// Times each kernel sub-test alone, and a whole silent pass.
#include <benchmark/benchmark.h>

#include "bench/kernel.h"
#include "bench/worker.h"

namespace {

template <auto subTest>
void subTestBenchmark(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(subTest());
}

BENCHMARK_TEMPLATE(subTestBenchmark, ps::trigSingleTest)->Name("Ft")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(subTestBenchmark, ps::sqrtSingleTest)->Name("Fs")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(subTestBenchmark, ps::trigDoubleTest)->Name("Dt")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(subTestBenchmark, ps::sqrtDoubleTest)->Name("Ds")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(subTestBenchmark, ps::int64Test)->Name("A64")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(subTestBenchmark, ps::int32Test)->Name("A32")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(subTestBenchmark, ps::floatSingleTest)->Name("AF")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(subTestBenchmark, ps::floatDoubleTest)->Name("AD")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(subTestBenchmark, ps::primeTest)->Name("P")->Unit(benchmark::kMillisecond);

void sqrtBenchmark(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ps::sqrtTest());
}
BENCHMARK(sqrtBenchmark)->Name("S")->Unit(benchmark::kMillisecond);

void memoryBenchmark(benchmark::State& state) {
  int index = 0;
  ps::_psTestSingle worker(index);
  const ps::_kernelInput input = ps::kernelInput(worker);
  ps::memoryTest(input);  // first touch of the fresh buffers
  for (auto _ : state) benchmark::DoNotOptimize(ps::memoryTest(input));
  state.SetBytesProcessed(state.iterations() * (int64_t)worker.memPasses * 4 * worker.bufferSize);
}
BENCHMARK(memoryBenchmark)->Name("M")->Unit(benchmark::kMillisecond);

void passBenchmark(benchmark::State& state) {
  int index = 0;
  ps::_psTestSingle worker(index);
  int pass = 2;  // not a printed pass
  int passes = 100;
  ps::memoryTest(ps::kernelInput(worker));
  for (auto _ : state) ps::psKernel(&worker, &pass, &passes);
}
BENCHMARK(passBenchmark)->Name("pass")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
