// The clock written in a processor name, read one way for the name
// analysis (the report's label) and for the Linux layer (a rated clock where
// the system keeps none). Header-only, so that the platform layer below base
// reads it without linking base.
#pragma once

#include "base/fixed_string.h"

namespace ps {

// Where the two readers differ: the label takes any number after "@"
// ("@ 3600MHz" reads as 3600 GHz); a rated clock needs "GHz" after it.
enum class _nameClockUnit { anyAfterAt, gigahertzOnly };

// The text after the first "@", cut before "GHz", trimmed and read by
// toFloat, times 1000 in single precision: "... @ 3.60GHz" gives 3600.
// False without "@", or for gigahertzOnly without "GHz" after it.
inline bool clockAfterAt(const _fixedString<250>& name, _nameClockUnit unit, float* mhz) {
  _fixedString<250> work = name;
  const int at = work.find("@");
  if (at < 0) return false;
  work.remove(0, at + 1);
  const int ghz = work.find("GHz");
  if (ghz >= 0)
    work.setLength((int16_t)ghz);
  else if (unit == _nameClockUnit::gigahertzOnly)
    return false;
  work.trim();
  *mhz = work.toFloat() * 1000.0f;
  return true;
}

}  // namespace ps
