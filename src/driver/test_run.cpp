#include "driver/test_run.h"

#include "bench/runner.h"

namespace ps {

namespace {

constexpr int mostRuns = 10;  // Single10

}  // namespace

float runChosenTest(const _testChoice& choice, QString& message) {
  if (choice.runner == _runner::all) return psTestAll(message, choice.verbose);
  float scores[mostRuns];
  int runs = 0;
  while (runs < choice.runs && runs < mostRuns)
    scores[runs++] = psTestSingleCore(message, choice.verbose, choice.speedTest, choice.singleThread);
  return meanOfRuns(scores, runs);
}

float meanOfRuns(const float* scores, int runs) {
  float sum = 0.0f;
  for (int run = 0; run < runs; ++run) sum += scores[run];
  return runs > 1 ? sum / (float)runs : sum;
}

}  // namespace ps
