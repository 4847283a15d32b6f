// Runs the chosen test: once, or several times in a row for the repeated
// single-core tests.
#pragma once

#include <QString>

#include "driver/command_line.h"

namespace ps {

// The runner entry points; tests put stand-ins in their place.
struct _runners {
  float (*all)(QString& message, bool verbose);
  float (*singleCore)(QString& message, bool verbose, bool speedTest, bool singleThread);
};

// psTestAll and psTestSingleCore.
extern const _runners benchRunners;

// Every run replaces message, so it ends with the last run's log; the score
// is the mean of the runs, added in single precision in run order.
float runChosenTest(const _testChoice& choice, QString& message, const _runners& runners = benchRunners);

}  // namespace ps
