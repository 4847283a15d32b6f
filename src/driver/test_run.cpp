#include "driver/test_run.h"

#include "bench/runner.h"

namespace ps {

const _runners benchRunners = {psTestAll, psTestSingleCore};

float runChosenTest(const _testChoice& choice, QString& message, const _runners& runners) {
  if (choice.runner == _runner::all) return runners.all(message, choice.verbose);
  float sum = 0.0f;
  for (int run = 0; run < choice.runs; ++run)
    sum += runners.singleCore(message, choice.verbose, choice.speedTest, choice.singleThread);
  return choice.runs > 1 ? sum / (float)choice.runs : sum;
}

}  // namespace ps
