// Runs the built program as a farm tool would and reads its output line by line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

_run runProgram(std::vector<std::string> arguments) {
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

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

bool matches(const std::string& line, const char* pattern) { return std::regex_match(line, std::regex(pattern)); }

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

// Everything after the header of a SingleSpeed run, line by line.
void checkSingleSpeedLog(const std::vector<std::string>& lines, size_t at, float* score) {
  ASSERT_LT(at + 2, lines.size());
  EXPECT_EQ(lines[at++], "CPU PS Test...");
  EXPECT_EQ(lines[at++], "Creating 1 threads");
  // The machine report sits in the log of a non-verbose run.
  size_t report = at;
  while (at < lines.size() && lines[at].rfind("adding thread", 0) != 0) ++at;
  ASSERT_LT(at, lines.size()) << "no adding-thread line";
  std::string reportText;
  for (size_t i = report; i < at; ++i) reportText += lines[i] + "\n";
  EXPECT_NE(reportText.find("CPU Description:     "), std::string::npos);
  EXPECT_NE(reportText.find("CPU Core Count:      "), std::string::npos);
  EXPECT_NE(reportText.find("CPU MHz summed (measured current, HT adjusted):    "), std::string::npos);
  EXPECT_NE(reportText.find("NOTE: Tessel reads the information provided by the OS or BIOS.\n"), std::string::npos);

  EXPECT_TRUE(matches(lines[at], "adding thread 0: *[0-9]+\\.[0-9]{3}PS \\([0-9 ]+ ms, 7 loops\\)")) << lines[at];
  ++at;
  ASSERT_LT(at + 1, lines.size());
  EXPECT_TRUE(matches(lines[at], "=totalSpeed *[0-9]+\\.[0-9]{3} PS \\(Average per core: *[0-9]+\\.[0-9]{3} PS\\)"))
      << lines[at];
  ++at;
  std::smatch result;
  ASSERT_TRUE(std::regex_match(lines[at], result, std::regex("PS_Result: *([0-9]+\\.[0-9]{3})"))) << lines[at];
  *score = std::stof(result[1].str());
  EXPECT_GE(*score, 2.0f);
}

TEST(Program, SingleSpeedWithExitCodeAndEveryFillerBlock) {
  _run run = runProgram({"singlespeed", "exitCodeThreshold", "1", "x_houdinilog_y", "LoremIpsum", "BlenderLog"});
  std::vector<std::string> lines = splitLines(run.output);
  size_t at = checkHeader(lines);

  // The filler sits between the header and the test, 4,680 + 14,849 + 14,055 bytes.
  size_t headerBytes = 0;
  for (size_t i = 0; i < at; ++i) headerBytes += lines[i].size() + 1;
  size_t testStart = run.output.find("CPU PS Test...\n", headerBytes);
  ASSERT_NE(testStart, std::string::npos);
  EXPECT_EQ(testStart - headerBytes, 33584u);
  EXPECT_EQ(run.output.substr(headerBytes, 13), "\n\nLorem ipsum");
  EXPECT_EQ(run.output.substr(headerBytes + 4680, 6), "R  8| ");
  EXPECT_EQ(run.output.substr(headerBytes + 4680 + 14849, 6), "R  8| ");

  std::vector<std::string> testLines = splitLines(run.output.substr(testStart));
  float score = 0;
  checkSingleSpeedLog(testLines, 0, &score);
  size_t tail = 0;
  while (tail < testLines.size() && testLines[tail].rfind("PS_Result:", 0) != 0) ++tail;
  ASSERT_LT(tail + 6, testLines.size());
  int expected = (int)(score / 1.0f);
  EXPECT_EQ(testLines[tail + 1], "Returning exit code " + std::to_string(expected));
  EXPECT_EQ(testLines[tail + 2], "");
  EXPECT_TRUE(matches(testLines[tail + 3], "Time_Exec: [0-9]+ sec")) << testLines[tail + 3];
  EXPECT_TRUE(matches(testLines[tail + 4], "Core\\*Time: [0-9]+")) << testLines[tail + 4];
  EXPECT_TRUE(matches(testLines[tail + 5], timeOfDay)) << testLines[tail + 5];
  EXPECT_EQ(testLines[tail + 6], "");
  EXPECT_EQ(tail + 7, testLines.size());
  EXPECT_EQ(run.exitCode, expected > 255 ? 255 : expected);
}

// A divider of 0, one that is no number, or none at all gives exit code 0.
TEST(Program, SingleSpeedWithoutAUsableDividerReturnsZero) {
  const std::vector<std::vector<std::string>> cases = {{"SingleSpeed", "EXITCODETHRESHOLD", "0"},
                                                       {"SingleSpeed", "exitCodeThreshold"}};
  for (const auto& arguments : cases) {
    _run run = runProgram(arguments);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("\nReturning exit code 0\n\nTime_Exec: "), std::string::npos) << run.output;
  }
}

TEST(Program, KeywordOutOfPlaceGivesNoExitCodeLine) {
  _run run = runProgram({"SingleSpeed", "10", "exitCodeThreshold"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output.find("Returning exit code"), std::string::npos);
  EXPECT_NE(run.output.find("\nPS_Result: "), std::string::npos);
}

}  // namespace
