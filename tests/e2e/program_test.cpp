// Runs the built program as a farm tool would and reads its output line by line.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

const char* const commaLocale = "de_DE.UTF-8";

struct _run {
  std::string output;
  int exitCode;
};

std::string readAll(FILE* pipe) {
  std::string text;
  char chunk[65536];
  for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  return text;
}

// With a locale folder: under the comma locale, confined to the lowest processor it may use.
_run runProgram(const std::string& arguments, const std::string& localePath = "") {
  cpu_set_t all, first;
  sched_getaffinity(0, sizeof all, &all);
  if (!localePath.empty()) {
    CPU_ZERO(&first);
    for (int i = 0; i < CPU_SETSIZE && CPU_COUNT(&first) == 0; ++i)
      if (CPU_ISSET(i, &all)) CPU_SET(i, &first);
    sched_setaffinity(0, sizeof first, &first);  // inherited by the child
  }
  const std::string env = localePath.empty() ? "" : "LOCPATH=" + localePath + " LC_ALL=" + commaLocale + " ";
  FILE* pipe = popen((env + PS_BINARY + " " + arguments).c_str(), "r");
  _run run{readAll(pipe), -1};
  const int status = pipe ? pclose(pipe) : -1;
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  sched_setaffinity(0, sizeof all, &all);
  return run;
}

// The folder holding the comma-decimal locale, or "" when it cannot be built or its point is no comma.
std::string buildCommaLocale() {
  char folder[] = "/tmp/ps-locale-XXXXXX";
  if (!mkdtemp(folder)) return "";
  const std::string path = folder, env = "LOCPATH=" + path + " LC_ALL=" + commaLocale;
  // localedef may report warnings in its exit status and still build it.
  system(("localedef -i de_DE -f UTF-8 " + path + "/" + commaLocale + " >/dev/null 2>&1").c_str());
  FILE* pipe = popen((env + " locale decimal_point 2>/dev/null").c_str(), "r");
  const std::string point = readAll(pipe);
  if (pipe) pclose(pipe);
  return point == ",\n" ? path : "";
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

bool matches(const std::string& line, const std::string& pattern) { return std::regex_match(line, std::regex(pattern)); }

size_t count(const std::vector<std::string>& lines, const std::string& pattern) {
  size_t n = 0;
  for (const std::string& line : lines) n += matches(line, pattern);
  return n;
}

// The fields of the one line matching pattern.
std::vector<std::string> fieldsOf(const std::vector<std::string>& lines, const std::string& pattern) {
  std::vector<std::string> fields;
  EXPECT_EQ(count(lines, pattern), 1u) << pattern;
  std::smatch match;
  for (const std::string& line : lines)
    if (fields.empty() && std::regex_match(line, match, std::regex(pattern)))
      for (size_t i = 1; i < match.size(); ++i) fields.push_back(match[i].str());
  fields.resize(4);
  return fields;
}

// A number printed with printf's "%5.3f", checked by printing it again.
double score(const std::string& text) {
  char printed[64];
  snprintf(printed, sizeof printed, "%5.3f", atof(text.c_str()));
  EXPECT_EQ(text, printed);
  return atof(text.c_str());
}

int integer(const std::string& text) {
  EXPECT_TRUE(matches(text, "-?[0-9]+")) << text;
  return atoi(text.c_str());
}

const char* const timeOfDay = "[0-2][0-9]:[0-5][0-9]\\.[0-5][0-9]";

// The five header lines; returns their size in bytes.
size_t checkHeader(const std::vector<std::string>& lines) {
  const char* patterns[] = {timeOfDay, "SpecificOperSys: .*", "NumberOfThreads: [1-9][0-9]*", "(RAM installed: [0-9]+)?",
                            "OperatingSystem: LINUX"};
  size_t bytes = 0;
  for (size_t i = 0; i < 5 && i < lines.size(); ++i) {
    EXPECT_TRUE(matches(lines[i], patterns[i])) << lines[i];
    bytes += lines[i].size() + 1;
  }
  return bytes;
}

// The test log from "CPU PS Test..." and the lines after it, of a run with the exit-code keyword; returns
// PS_Result. A verbose log has no machine report, the others exactly one.
double checkLogAndTail(const std::string& output, bool verbose, bool single, int loops, int divider) {
  const std::vector<std::string> lines = splitLines(output);
  const size_t logStart = output.rfind("\nCPU PS Test...\n");
  const std::vector<std::string> log = splitLines(output.substr(logStart + 1));
  EXPECT_EQ(count(lines, ".*NOTE: Tessel reads the information provided by the OS or BIOS\\."), 1u);
  EXPECT_EQ(count(log, ".*NOTE: Tessel reads.*"), verbose ? 0u : 1u);

  const int threads = integer(fieldsOf(log, "Creating (.*) threads")[0]);
  EXPECT_GE(threads, 1);
  double total = 0;
  for (int i = 0; i < threads; ++i) {
    auto fields = fieldsOf(log, "adding thread " + std::to_string(i) + ": (.*)PS \\((.*) ms, (.*) loops\\)");
    EXPECT_TRUE(matches(fields[1], "[1-9][0-9]{0,3}( [0-9]{3})*")) << fields[1];
    const double worker = score(fields[0]), ms = atof(std::regex_replace(fields[1], std::regex(" "), "").c_str());
    EXPECT_EQ(integer(fields[2]), loops);
    EXPECT_NEAR(worker, 4333.0 * loops / ms, 0.0005 + 1e-9 * worker);
    total += worker;
  }
  const auto sums = fieldsOf(log, "=totalSpeed (.*) PS \\(Average per core: (.*) PS\\)");
  const double totalSpeed = score(sums[0]);
  EXPECT_NEAR(totalSpeed, std::max(total, 2.0), 0.0005 * threads + 1e-6);
  EXPECT_NEAR(score(sums[1]), totalSpeed / threads, 0.0005 + 1e-6);
  if (threads == 1) {
    EXPECT_EQ(sums[1], sums[0]);
  }

  // A single-core score counts each logical processor of the report, 0.6 of one with hyperthreading.
  double factor = 1.0;
  if (single) {
    factor = integer(fieldsOf(lines, "CPU Core Count:      (.*)")[0]);
    if (fieldsOf(lines, "CPU Hyperthreading:  (.*)")[0] == "Enabled") factor *= 0.6;
  }
  const std::string result = fieldsOf(log, "PS_Result: (.*)")[0];
  const double psResult = score(result);
  EXPECT_NEAR(psResult, totalSpeed * factor, 0.0005 * (factor + 1) + 1e-6);
  if (verbose) {
    EXPECT_EQ(fieldsOf(lines, "psTest: PS_Result: (.*)")[0], result);
  }

  // The tail after the log, in order. The exit code comes from the score, not its text: x.9996 prints as x+1.000.
  size_t at = 0;
  while (at < log.size() && log[at].rfind("PS_Result: ", 0) != 0) ++at;
  if (at + 7 != log.size()) {
    ADD_FAILURE() << "no tail of 7 lines after the log:\n" << output;
    return 0;
  }
  const int code = integer(fieldsOf(log, "Returning exit code (.*)")[0]);
  EXPECT_EQ(log[at + 1], "Returning exit code " + std::to_string(code));
  const double quotient = psResult / divider;
  EXPECT_TRUE(code == (int)quotient || (result.find(".000") != std::string::npos && code == (int)(quotient - 1.0 / divider)))
      << code << " for " << result << " / " << divider;
  EXPECT_EQ(log[at + 2] + log[at + 6], "");
  const int seconds = integer(fieldsOf(log, "Time_Exec: (.*) sec")[0]);
  const int coreTime = integer(fieldsOf(log, "Core\\*Time: (.*)")[0]);
  EXPECT_TRUE(matches(log[at + 3], "Time_Exec: .*") && matches(log[at + 4], "Core\\*Time: .*") &&
              matches(log[at + 5], timeOfDay))
      << output;
  // Core*Time is the test's milliseconds times NumberOfThreads; Time_Exec the same in whole seconds.
  const int processors = integer(fieldsOf(lines, "NumberOfThreads: (.*)")[0]);
  EXPECT_EQ(coreTime % processors, 0) << coreTime << " / " << processors;
  EXPECT_EQ(coreTime / processors / 1000, seconds) << coreTime << " / " << processors;
  return psResult;
}

// The usage text as a farm tool saw it, after its five header lines.
std::string savedUsageText() {
  FILE* file = fopen(PS_TESTS_DIR "/../tools/farm/tests/data/usage.out", "r");
  std::string text = readAll(file);
  if (file) fclose(file);
  for (int i = 0; i < 5; ++i) text.erase(0, text.find('\n') + 1);
  return text;
}

// A filler keyword in first place is no test name; its block comes first.
TEST(Program, UnknownTestNamesPrintTheUsageTextAndReturnZero) {
  const std::string usageText = savedUsageText();
  ASSERT_GT(usageText.size(), 500u);
  for (std::string name : {"Singl", "Single5x", "LoremIpsum"}) {
    _run run = runProgram(name + " exitCodeThreshold 1");
    EXPECT_EQ(run.exitCode, 0) << name;
    std::string rest = run.output.substr(std::min(run.output.size(), checkHeader(splitLines(run.output))));
    if (name == "LoremIpsum") {
      EXPECT_EQ(rest.substr(0, 13), "\n\nLorem ipsum");
      rest = rest.substr(std::min(rest.size(), (size_t)4680));
    }
    EXPECT_EQ(rest, usageText) << name;
  }
}

// The filler sits between the header and the test, 4,680 + 14,849 + 14,055 bytes.
TEST(Program, SingleSpeedWithExitCodeAndEveryFillerBlock) {
  _run run = runProgram("singlespeed exitCodeThreshold 1 x_houdinilog_y LoremIpsum BlenderLog");
  const size_t header = checkHeader(splitLines(run.output));
  EXPECT_EQ(run.output.find("CPU PS Test...\n", header), header + 33584u);
  EXPECT_EQ(run.output.substr(header, 13), "\n\nLorem ipsum");
  EXPECT_EQ(run.output.substr(header + 4680, 6) + run.output.substr(header + 4680 + 14849, 6), "R  8| R  8| ");
  EXPECT_GE(checkLogAndTail(run.output, false, true, 7, 1), 2.0);
  const int code = integer(fieldsOf(splitLines(run.output), "Returning exit code (.*)")[0]);
  EXPECT_EQ(run.exitCode, std::min(code, 255));
}

// A verbose run under a comma-decimal locale on one processor, so one worker: every number keeps its
// point. A negative divider prints a negative code, which a Linux process returns as 0.
TEST(Program, AllVerboseUnderACommaDecimalLocale) {
  const std::string localePath = buildCommaLocale();
  ASSERT_FALSE(localePath.empty()) << "could not build " << commaLocale << " with localedef (package locales)";
  _run run = runProgram("AllVerbose exitCodeThreshold -1", localePath);
  system(("rm -rf " + localePath).c_str());

  EXPECT_FALSE(std::regex_search(run.output, std::regex("[0-9],[0-9]"))) << run.output;
  std::vector<std::string> lines = splitLines(run.output);
  checkHeader(lines);
  for (std::string& line : lines) line.erase(0, line.find_first_not_of('.'));  // the poll's dots
  const double result = checkLogAndTail(run.output, true, false, 100, -1);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_LE(integer(fieldsOf(lines, "Returning exit code (.*)")[0]), -2);

  // Worker 0's lines of four passes, its live and logged score, its total time and the live sums.
  EXPECT_EQ(count(lines, "      t0:S [0-9]+  \\(7\\.5953\\)"), 4u);
  EXPECT_EQ(count(lines, "psTest: Calling cpuInfo"), 1u);
  const auto logged = fieldsOf(lines, "adding thread 0: (.*)PS \\((.*) ms, 100 loops\\)");
  EXPECT_EQ(score(fieldsOf(lines, "psTest: adding thread 0: (.*)")[0]), score(logged[0]));
  const double ms = atof(std::regex_replace(logged[1], std::regex(" "), "").c_str());
  EXPECT_EQ(score(fieldsOf(lines, "      totalTime (.*)")[0]), ms / 1000.0);
  const auto sums = fieldsOf(lines, "psTest: totalSpeed (.*) PS   \\(Average per core:  (.*) PS\\)");
  EXPECT_EQ(sums[0], sums[1]);
  EXPECT_NEAR(score(sums[0]), result, 1e-9);
}

}  // namespace
