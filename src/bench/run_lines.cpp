#include "bench/run_lines.h"

#include <cstdarg>

namespace ps {

namespace {

template <int N>
void format(_fixedString<N>& out, const char* format, ...) PS_PRINTF_FORMAT(2, 3);

template <int N>
void format(_fixedString<N>& out, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int n = formatBoundedList(out.text, (int)sizeof out.text, format, arguments);
  va_end(arguments);
  out.setLength((int16_t)(n < 0 ? 0 : n));
}

}  // namespace

_runLine startLine(int workerCount) {
  _runLine line;
  format(line.printed, "CPU PS Test...\nCreating %d threads\n", workerCount);
  line.logged = line.printed;
  return line;
}

_runLine workerLine(int index, double score, int64_t timeMs, int loops) {
  _runLine line;
  format(line.printed, "psTest: adding thread %d: %5.3f\n", index, score);
  format(line.logged, "adding thread %d: %5.3fPS (%s ms, %d loops)\n", index, score,
         formatThousands(timeMs).text, loops);
  return line;
}

_runLine totalLine(float total, int workerCount) {
  const float average = workerCount > 0 ? total / (float)workerCount : total;
  _runLine line;
  format(line.printed, "psTest: totalSpeed %5.3f PS   (Average per core:  %5.3f PS)\n", (double)total,
         (double)average);
  format(line.logged, "=totalSpeed %5.3f PS (Average per core: %5.3f PS)\n", (double)total, (double)average);
  return line;
}

_runLine resultLine(float score) {
  _runLine line;
  format(line.printed, "psTest: PS_Result: %5.3f\n", (double)score);
  format(line.logged, "PS_Result: %5.3f", (double)score);
  return line;
}

_fixedString<31> formatThousands(int64_t value) {
  // Unsigned magnitude: the most negative value has no positive twin.
  uint64_t lead = value < 0 ? 0 - (uint64_t)value : (uint64_t)value;
  unsigned groups[3];
  int count = 0;
  while (count < 3 && lead > 1000) {
    groups[count++] = (unsigned)(lead % 1000);
    lead /= 1000;
  }
  _fixedString<31> out;
  format(out, "%s%llu", value < 0 ? "-" : "", (unsigned long long)lead);
  while (count > 0) {
    _fixedString<4> group;
    format(group, " %03u", groups[--count]);
    out.append(group);
  }
  return out;
}

}  // namespace ps
