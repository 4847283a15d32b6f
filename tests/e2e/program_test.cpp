// Runs the built program as a farm tool would and reads its output line by line.
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

namespace {

struct _run {
  std::string output;
  int exitCode;
};

// A comma-decimal locale built into a temporary folder, for LOCPATH.
const char* const commaLocale = "de_DE.UTF-8";

struct _environment {
  std::string localePath;  // LOCPATH and LC_ALL=commaLocale when set
  bool oneProcessor;       // confined to the lowest processor it may use
};

_run runProgram(std::vector<std::string> arguments, const _environment& environment = {"", false}) {
  arguments.insert(arguments.begin(), PS_BINARY);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);

  int fds[2];
  if (pipe(fds) != 0) return {"", -1};
  pid_t child = fork();
  if (child == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    if (!environment.localePath.empty()) {
      setenv("LOCPATH", environment.localePath.c_str(), 1);
      setenv("LC_ALL", commaLocale, 1);
    }
    cpu_set_t set;
    if (environment.oneProcessor && sched_getaffinity(0, sizeof set, &set) == 0) {
      int first = 0;
      while (first < CPU_SETSIZE && !CPU_ISSET(first, &set)) ++first;
      CPU_ZERO(&set);
      CPU_SET(first, &set);
      sched_setaffinity(0, sizeof set, &set);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  _run result{"", -1};
  char chunk[65536];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof(chunk))) > 0) result.output.append(chunk, (size_t)n);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

// The folder holding the comma-decimal locale, or "" when it cannot be built.
std::string buildCommaLocale() {
  char folder[] = "/tmp/ps-locale-XXXXXX";
  if (!mkdtemp(folder)) return "";
  const std::string path = folder;
  const std::string command = "localedef -i de_DE -f UTF-8 " + path + "/" + commaLocale + " >/dev/null 2>&1";
  // localedef may report warnings in its exit status and still build it.
  if (system(command.c_str()) == -1) return "";
  // Check that the C library takes it and that its decimal point is a comma;
  // in a child, since glibc keeps the LOCPATH list it builds for newlocale.
  pid_t child = fork();
  if (child == 0) {
    setenv("LOCPATH", path.c_str(), 1);
    locale_t locale = newlocale(LC_NUMERIC_MASK, commaLocale, (locale_t)0);
    _exit(locale && std::string(nl_langinfo_l(RADIXCHAR, locale)) == "," ? 0 : 1);
  }
  int status = 1;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? path : "";
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

bool matches(const std::string& line, const char* pattern) { return std::regex_match(line, std::regex(pattern)); }

size_t count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

// The one line matching pattern; its fields, in the order of the pattern's groups.
std::vector<std::string> fieldsOf(const std::vector<std::string>& lines, const char* pattern) {
  std::vector<std::string> fields;
  size_t found = 0;
  const std::regex expression(pattern);
  for (const std::string& line : lines) {
    std::smatch match;
    if (!std::regex_match(line, match, expression)) continue;
    if (++found == 1)
      for (size_t i = 1; i < match.size(); ++i) fields.push_back(match[i].str());
  }
  EXPECT_EQ(found, 1u) << pattern;
  return fields;
}

// A number printed with printf's "%5.3f", checked by printing it again.
double score(const std::string& text) {
  const double value = std::strtod(text.c_str(), nullptr);
  char printed[64];
  snprintf(printed, sizeof printed, "%5.3f", value);
  EXPECT_EQ(text, printed);
  return value;
}

int integer(const std::string& text) {
  EXPECT_TRUE(matches(text, "-?[0-9]+")) << text;
  return std::atoi(text.c_str());
}

const char* const timeOfDay = "[0-2][0-9]:[0-5][0-9]\\.[0-5][0-9]";

// The five header lines; returns the index of the first line after them.
size_t checkHeader(const std::vector<std::string>& lines) {
  EXPECT_GE(lines.size(), 5u);
  if (lines.size() < 5) return lines.size();
  EXPECT_TRUE(matches(lines[0], timeOfDay)) << lines[0];
  EXPECT_TRUE(matches(lines[1], "SpecificOperSys: .*")) << lines[1];
  EXPECT_TRUE(matches(lines[2], "NumberOfThreads: [1-9][0-9]*")) << lines[2];
  EXPECT_TRUE(matches(lines[3], "(RAM installed: [0-9]+)?")) << lines[3];
  EXPECT_EQ(lines[4], "OperatingSystem: LINUX");
  return 5;
}

// The test log and the lines after it, from "CPU PS Test..." to the end, of a
// run with the exit-code keyword; returns the score. The log of a verbose run
// has no report; that of the others has exactly one.
double checkLogAndTail(const std::string& output, const std::vector<std::string>& arguments, int loops, int divider) {
  const std::vector<std::string> lines = splitLines(output);
  const size_t logStart = output.rfind("\nCPU PS Test...\n");
  EXPECT_NE(logStart, std::string::npos);
  const std::vector<std::string> log = splitLines(output.substr(logStart + 1));
  std::string test = arguments[0];
  for (char& c : test) c = (char)tolower((unsigned char)c);
  const bool verbose = test.find("verbose") != std::string::npos;
  const bool single = test.rfind("single", 0) == 0;
  EXPECT_EQ(count(output, "NOTE: Tessel reads the information provided by the OS or BIOS.\n"), 1u);
  EXPECT_EQ(count(output.substr(logStart), "NOTE: Tessel reads"), verbose ? 0u : 1u);

  const int threads = integer(fieldsOf(log, "Creating (.*) threads")[0]);
  EXPECT_GE(threads, 1);
  double total = 0;
  for (int i = 0; i < threads; ++i) {
    const std::string pattern = "adding thread " + std::to_string(i) + ": (.*)PS \\((.*) ms, (.*) loops\\)";
    const std::vector<std::string> fields = fieldsOf(log, pattern.c_str());
    if (fields.size() < 3) return 0;
    const double worker = score(fields[0]);
    EXPECT_TRUE(matches(fields[1], "[1-9][0-9]{0,3}( [0-9]{3})*")) << fields[1];
    const double ms = std::stod(std::regex_replace(fields[1], std::regex(" "), ""));
    EXPECT_EQ(integer(fields[2]), loops);
    // 4333 divided by the milliseconds per pass, printed with three decimals.
    EXPECT_NEAR(worker, 4333.0 * loops / ms, 0.0005 + 1e-9 * worker);
    total += worker;
  }
  const std::vector<std::string> sums = fieldsOf(log, "=totalSpeed (.*) PS \\(Average per core: (.*) PS\\)");
  if (sums.size() < 2) return 0;
  const double totalSpeed = score(sums[0]), average = score(sums[1]);
  EXPECT_NEAR(totalSpeed, std::max(total, 2.0), 0.0005 * threads + 1e-6);
  EXPECT_NEAR(average, totalSpeed / threads, 0.0005 + 1e-6);
  if (threads == 1) {
    EXPECT_EQ(sums[1], sums[0]);
  }

  // A single-core score counts each logical processor of the report, 0.6 of
  // one with hyperthreading.
  double factor = 1.0;
  if (single) {
    factor = integer(fieldsOf(lines, "CPU Core Count:      (.*)")[0]);
    if (fieldsOf(lines, "CPU Hyperthreading:  (.*)")[0] == "Enabled") factor *= 0.6;
  }
  const std::vector<std::string> result = fieldsOf(log, "PS_Result: (.*)");
  if (result.empty()) return 0;
  const double psResult = score(result[0]);
  EXPECT_NEAR(psResult, totalSpeed * factor, 0.0005 * (factor + 1) + 1e-6);
  if (verbose) {
    EXPECT_EQ(fieldsOf(lines, "psTest: PS_Result: (.*)"), result);
  }

  // The tail after the log, in order.
  size_t at = 0;
  while (at < log.size() && log[at].rfind("PS_Result: ", 0) != 0) ++at;
  if (at + 6 >= log.size()) {
    ADD_FAILURE() << "no tail after the log";
    return 0;
  }
  // The exit code comes from the score, not from its three-decimal text: a
  // score of x.9996 prints as x+1.000.
  const int code = integer(fieldsOf(log, "Returning exit code (.*)")[0]);
  EXPECT_EQ(log[at + 1], "Returning exit code " + std::to_string(code));
  const double quotient = psResult / divider;
  EXPECT_TRUE(code == (int)quotient || (result[0].find(".000") != std::string::npos && code == (int)(quotient - 1.0 / divider)))
      << code << " for " << result[0] << " / " << divider;
  EXPECT_EQ(log[at + 2], "");
  const int seconds = integer(fieldsOf(log, "Time_Exec: (.*) sec")[0]);
  const int coreTime = integer(fieldsOf(log, "Core\\*Time: (.*)")[0]);
  EXPECT_TRUE(matches(log[at + 3], "Time_Exec: .*")) << log[at + 3];
  EXPECT_TRUE(matches(log[at + 4], "Core\\*Time: .*")) << log[at + 4];
  EXPECT_TRUE(matches(log[at + 5], timeOfDay)) << log[at + 5];
  EXPECT_EQ(log[at + 6], "");
  EXPECT_EQ(at + 7, log.size());
  // Core*Time is the test's milliseconds times NumberOfThreads; Time_Exec the same in whole seconds.
  const int processors = integer(fieldsOf(lines, "NumberOfThreads: (.*)")[0]);
  EXPECT_EQ(coreTime % processors, 0) << coreTime << " / " << processors;
  EXPECT_EQ(coreTime / processors / 1000, seconds) << coreTime << " / " << processors;
  return psResult;
}

const char* const usageText =
    "Usage: \n"
    "DirUrarovavu [testName] [exitCodeThreshold <divider>]  [LoremIpsum] [BlenderLog] [HoudiniLog]\n\n"
    "[LoremIpsum] [BlenderLog] [HoudiniLog]:\n\tThese print some text to increase the size of the printed output\n"
    "[exitCodeThreshold <divider>]: Return measured PS. <divider> divides the PS before returning it."
    "\n             The divider might be required on Linux as the exit code must be smaller than 255."
    "\t All: (default) Test all cores for ~1 minute \n"
    "\t AllVerbose: Same, but with verbose log\n"
    "\t Single: Test 1 core only for ~1-2 minutes\n"
    "\t Single5: 5 times the Single test in a row\n"
    "\t Single5Verbose: 5 times the Single test in a row, with verbose log\n"
    "\t Single10: 10 times the Single test in a row\n"
    "\t Single10Verbose: 10 times the Single test in a row, with verbose log\n"
    "\t SingleSpeed: Test 1 core only for ~8 seconds\n";

TEST(Program, UnknownTestNamesPrintTheUsageTextAndReturnZero) {
  for (const char* name : {"Singl", "Single5x", "LoremIpsum"}) {
    _run run = runProgram({name, "exitCodeThreshold", "1"});
    EXPECT_EQ(run.exitCode, 0) << name;
    std::vector<std::string> lines = splitLines(run.output);
    size_t body = checkHeader(lines);
    size_t offset = 0;
    for (size_t i = 0; i < body; ++i) offset += lines[i].size() + 1;
    std::string rest = run.output.substr(offset);
    if (std::string(name) == "LoremIpsum") {
      // A filler keyword in first place is no test name; its block comes first.
      ASSERT_GT(rest.size(), 4680u);
      EXPECT_EQ(rest.substr(0, 13), "\n\nLorem ipsum");
      rest = rest.substr(4680);
    }
    EXPECT_EQ(rest, usageText) << name;
  }
}

TEST(Program, SingleSpeedWithExitCodeAndEveryFillerBlock) {
  const std::vector<std::string> arguments = {"singlespeed", "exitCodeThreshold", "1", "x_houdinilog_y", "LoremIpsum",
                                              "BlenderLog"};
  _run run = runProgram(arguments);
  std::vector<std::string> lines = splitLines(run.output);
  size_t at = checkHeader(lines);

  // The filler sits between the header and the test, 4,680 + 14,849 + 14,055 bytes.
  size_t headerBytes = 0;
  for (size_t i = 0; i < at; ++i) headerBytes += lines[i].size() + 1;
  EXPECT_EQ(run.output.find("CPU PS Test...\n", headerBytes), headerBytes + 33584u);
  EXPECT_EQ(run.output.substr(headerBytes, 13), "\n\nLorem ipsum");
  EXPECT_EQ(run.output.substr(headerBytes + 4680, 6), "R  8| ");
  EXPECT_EQ(run.output.substr(headerBytes + 4680 + 14849, 6), "R  8| ");

  const double result = checkLogAndTail(run.output, arguments, 7, 1);
  EXPECT_GE(result, 2.0);
  const int code = integer(fieldsOf(splitLines(run.output), "Returning exit code (.*)")[0]);
  EXPECT_EQ(run.exitCode, code > 255 ? 255 : code);
}

// A verbose run under a comma-decimal locale, confined to one processor so
// that it runs one worker: every number keeps its point. A negative divider
// prints a negative code, which a Linux process returns as 0.
TEST(Program, AllVerboseUnderACommaDecimalLocale) {
  const std::string localePath = buildCommaLocale();
  ASSERT_FALSE(localePath.empty()) << "could not build " << commaLocale << " with localedef (package locales)";
  const std::vector<std::string> arguments = {"AllVerbose", "exitCodeThreshold", "-1"};
  _run run = runProgram(arguments, {localePath, true});
  system(("rm -rf " + localePath).c_str());

  EXPECT_FALSE(std::regex_search(run.output, std::regex("[0-9],[0-9]"))) << run.output;
  std::vector<std::string> lines = splitLines(run.output);
  checkHeader(lines);
  // The poll's dots may stand in front of any live line.
  for (std::string& line : lines) line.erase(0, line.find_first_not_of('.'));
  const double result = checkLogAndTail(run.output, arguments, 100, -1);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_LE(integer(fieldsOf(lines, "Returning exit code (.*)")[0]), -2);

  // Worker 0's lines of four passes, and its total time.
  size_t printed = 0;
  for (const std::string& line : lines) printed += matches(line, "      t0:S [0-9]+  \\(7\\.5953\\)") ? 1 : 0;
  EXPECT_EQ(printed, 4u);
  const std::vector<std::string> live = fieldsOf(lines, "psTest: adding thread 0: (.*)");
  const std::vector<std::string> logged = fieldsOf(lines, "adding thread 0: (.*)PS \\((.*) ms, 100 loops\\)");
  ASSERT_EQ(live.size(), 1u);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(score(live[0]), score(logged[0]));
  const double ms = std::stod(std::regex_replace(logged[1], std::regex(" "), ""));
  EXPECT_EQ(score(fieldsOf(lines, "      totalTime (.*)")[0]), ms / 1000.0);
  const std::vector<std::string> sums = fieldsOf(lines, "psTest: totalSpeed (.*) PS   \\(Average per core:  (.*) PS\\)");
  ASSERT_EQ(sums.size(), 2u);
  EXPECT_EQ(sums[0], sums[1]);
  EXPECT_NEAR(score(sums[0]), result, 1e-9);
  EXPECT_EQ(count(run.output, "\npsTest: Calling cpuInfo\n"), 1u);
}

}  // namespace
