#include "driver/command_line.h"

#include <cmath>
#include <cstdio>

namespace ps {

namespace {

struct _testName {
  const char* name;
  _testChoice choice;
};

const _testName testNames[] = {
    {"All", {_runner::all, false, false, false, 1}},
    {"AllVerbose", {_runner::all, true, false, false, 1}},
    {"Single", {_runner::singleCore, false, false, true, 1}},
    {"SingleSpeed", {_runner::singleCore, false, true, true, 1}},
    {"Single5", {_runner::singleCore, false, false, true, 5}},
    {"Single5Verbose", {_runner::singleCore, true, false, true, 5}},
    {"Single10", {_runner::singleCore, false, false, true, 10}},
    {"Single10Verbose", {_runner::singleCore, true, false, true, 10}},
};

const char* const usageText[] = {
    "Usage: \n",
    "DirUrarovavu [testName] [exitCodeThreshold <divider>]  [LoremIpsum] [BlenderLog] [HoudiniLog]\n\n",
    ("[LoremIpsum] [BlenderLog] [HoudiniLog]:\n\tThese print some text to increase the size of the printed "
     "output\n"),
    "[exitCodeThreshold <divider>]: Return measured PS. <divider> divides the PS before returning it.",
    "\n             The divider might be required on Linux as the exit code must be smaller than 255.",
    "\t All: (default) Test all cores for ~1 minute \n",
    "\t AllVerbose: Same, but with verbose log\n",
    "\t Single: Test 1 core only for ~1-2 minutes\n",
    "\t Single5: 5 times the Single test in a row\n",
    "\t Single5Verbose: 5 times the Single test in a row, with verbose log\n",
    "\t Single10: 10 times the Single test in a row\n",
    "\t Single10Verbose: 10 times the Single test in a row, with verbose log\n",
    "\t SingleSpeed: Test 1 core only for ~8 seconds\n",
};

}  // namespace

void readCommandLine(int argc, char** argv, _commandLine& line) {
  line.testName.clear();
  line.keyword.clear();
  line.divider.clear();
  line.loremIpsum = line.blenderLog = line.houdiniLog = false;
  if (argc > 1) line.testName.assign(argv[1]);
  if (argc > 2) line.keyword.assign(argv[2]);
  if (argc > 3) line.divider.assign(argv[3]);
  for (int i = 1; i < argc; ++i) {
    _fixedString<100> word;
    word.assign(argv[i]);
    if (word.find("LoremIpsum") >= 0) line.loremIpsum = true;
    if (word.find("BlenderLog") >= 0) line.blenderLog = true;
    if (word.find("HoudiniLog") >= 0) line.houdiniLog = true;
  }
}

bool chooseTest(const _fixedString<100>& testName, _testChoice& choice) {
  if (testName.isEmpty()) {
    choice = testNames[0].choice;
    return true;
  }
  for (const _testName& entry : testNames) {
    if (testName.equalsNoCase(entry.name)) {
      choice = entry.choice;
      return true;
    }
  }
  return false;
}

bool wantsExitCode(const _commandLine& line) { return line.keyword.equalsNoCase("exitCodeThreshold"); }

int exitCodeFromScore(float score, const _fixedString<100>& divider) {
  int by = parseIntClamped(divider.text);
  if (by == 0) return 0;
  float quotient = score / (float)by;
  if (std::isnan(quotient)) return 0;
  if (quotient >= 2147483648.0f) return 2147483647;
  if (quotient <= -2147483648.0f) return -2147483647 - 1;
  return (int)quotient;
}

int clampExitCode(int code) {
  if (code > 255) return 255;
#ifndef _WIN32
  if (code < 0) return 0;
#endif
  return code;
}

int reportExitCode(const _commandLine& line, float score) {
  if (!wantsExitCode(line)) return 0;
  int code = exitCodeFromScore(score, line.divider);
  printf("Returning exit code %d\n", code);
  return clampExitCode(code);
}

int32_t coreTime(int elapsedMs, int processorCount) {
  return (int32_t)((uint32_t)elapsedMs * (uint32_t)processorCount);
}

void printUsage() {
  for (const char* piece : usageText) fputs(piece, stdout);
}

}  // namespace ps
