// The command line: test name, the exit-code keyword and its divider, and
// the filler keywords, which may stand anywhere, also inside a longer word.
#pragma once

#include <cstdint>

#include "base/fixed_string.h"

namespace ps {

struct _commandLine {
  _fixedString<100> testName;
  _fixedString<100> keyword;
  _fixedString<100> divider;
  bool loremIpsum;
  bool blenderLog;
  bool houdiniLog;
};

enum class _runner { all, singleCore };

struct _testChoice {
  _runner runner;
  bool verbose;
  bool speedTest;
  bool singleThread;
  int runs;
};

void readCommandLine(int argc, char** argv, _commandLine& line);
// False for a name that is not a test; an empty name selects All.
bool chooseTest(const _fixedString<100>& testName, _testChoice& choice);
bool wantsExitCode(const _commandLine& line);
// The score divided by the divider's integer value in single precision,
// truncated. The divider is read saturating at the int range, as the Windows
// C runtime's atoi does (glibc's wraps). A zero divider (missing, 0 or not a
// number) gives 0, and a quotient beyond the int range saturates, rather
// than converting an infinity or an out-of-range value.
int exitCodeFromScore(float score, const _fixedString<100>& divider);
// The code the process returns: above 255 lowered to 255. Windows returns a
// negative code unchanged; elsewhere a process returns only 0-255, where -2
// would read as 254, a top score, so a negative code returns 0.
int clampExitCode(int code);
// With the exit-code keyword in place, prints "Returning exit code %d" with
// the code before the cap. Returns what the process returns.
int reportExitCode(const _commandLine& line, float score);
// Test time in milliseconds times the processor count, as a 32-bit product
// that wraps rather than overflowing.
int32_t coreTime(int elapsedMs, int processorCount);
void printUsage();

}  // namespace ps
