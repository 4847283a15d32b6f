// Runs the chosen test: once, or several times in a row for the repeated
// single-core tests.
#pragma once

#include <QString>

#include "driver/command_line.h"

namespace ps {

// Every run replaces message, so it ends with the last run's log; the score
// is the mean of the runs.
float runChosenTest(const _testChoice& choice, QString& message);

// The scores added in single precision in run order; of several, divided by
// their number.
float meanOfRuns(const float* scores, int runs);

}  // namespace ps
