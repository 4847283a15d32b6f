// The lines of a run that are both printed live (verbose mode) and written
// to the log, each formatted in one place in both its forms.
#pragma once

#include <cstdint>

#include "base/fixed_string.h"

namespace ps {

struct _runLine {
  _fixedString<150> printed;  // written to stdout in verbose mode
  _fixedString<150> logged;   // appended to the log in every mode
};

_runLine startLine(int workerCount);
_runLine workerLine(int index, double score, int64_t timeMs, int loops);
// The total and its average per worker; with no workers the average is the
// total rather than a division by zero.
_runLine totalLine(float total, int workerCount);
// The logged form has no line end: it closes the message.
_runLine resultLine(float score);

// Digits in groups of three, blank-separated, from the right, while what is
// left is above 1000: 1000 and the digits beyond the third group stay whole.
_fixedString<31> formatThousands(int64_t value);

}  // namespace ps
