#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/processor_count.h"
#include "platform/windows_api.h"

namespace ps {
namespace {

_commandLine parse(std::vector<std::string> words) {
  words.insert(words.begin(), "DirUrarovavu");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  _commandLine line;
  readCommandLine((int)words.size(), argv.data(), line);
  return line;
}

TEST(CommandLine, CapturesTheFirstThreeArgumentsCutTo100) {
  _commandLine line = parse({std::string(150, 'a'), "exitCodeThreshold", "12"});
  EXPECT_EQ(line.testName.length, 100);
  EXPECT_EQ(line.testName.text[100], 0);
  EXPECT_STREQ(line.keyword.text, "exitCodeThreshold");
  EXPECT_STREQ(line.divider.text, "12");
  EXPECT_TRUE(wantsExitCode(line));

  line = parse({});
  EXPECT_TRUE(line.testName.isEmpty());
  EXPECT_FALSE(wantsExitCode(line));
  EXPECT_TRUE(wantsExitCode(parse({"All", "EXITCODETHRESHOLD", "10"})));
  EXPECT_FALSE(wantsExitCode(parse({"All", "10", "exitCodeThreshold"})));
}

TEST(CommandLine, FillerKeywordsAnywhereIgnoringCase) {
  _commandLine line = parse({"All", "x_houdinilog_y", "LoremIpsum"});
  EXPECT_TRUE(line.loremIpsum);
  EXPECT_FALSE(line.blenderLog);
  EXPECT_TRUE(line.houdiniLog);
  // A keyword past the first 100 characters of its argument is not seen.
  line = parse({std::string(100, 'x') + "BlenderLog"});
  EXPECT_FALSE(line.blenderLog);
}

TEST(CommandLine, TestNamesMatchIgnoringCase) {
  const struct {
    const char* name;
    bool known;
    _runner runner;
    bool verbose, speedTest;
    int runs;
  } cases[] = {
      {"", true, _runner::all, false, false, 1},          {"all", true, _runner::all, false, false, 1},
      {"ALL", true, _runner::all, false, false, 1},       {"AllVerbose", true, _runner::all, true, false, 1},
      {"Single", true, _runner::singleCore, false, false, 1},
      {"singlespeed", true, _runner::singleCore, false, true, 1},
      {"Single5", true, _runner::singleCore, false, false, 5},
      {"Single5Verbose", true, _runner::singleCore, true, false, 5},
      {"Single10", true, _runner::singleCore, false, false, 10},
      {"single10verbose", true, _runner::singleCore, true, false, 10},
      {"Single5x", false, _runner::all, false, false, 0}, {"Singl", false, _runner::all, false, false, 0},
      {"LoremIpsum", false, _runner::all, false, false, 0},
  };
  for (const auto& c : cases) {
    _fixedString<100> name;
    name.assign(c.name);
    _testChoice choice{};
    ASSERT_EQ(chooseTest(name, choice), c.known) << c.name;
    if (!c.known) continue;
    EXPECT_EQ(choice.runner, c.runner) << c.name;
    EXPECT_EQ(choice.verbose, c.verbose) << c.name;
    EXPECT_EQ(choice.speedTest, c.speedTest) << c.name;
    EXPECT_EQ(choice.singleThread, c.runner == _runner::singleCore) << c.name;
    EXPECT_EQ(choice.runs, c.runs) << c.name;
  }
}

TEST(CommandLine, ExitCodeFromScoreAndDivider) {
  const struct {
    float score;
    const char* divider;
    int code;
    int returned;
  } cases[] = {
      {123.9f, "10", 12, 12},   {4000.0f, "10", 400, 255}, {255.9f, "1", 255, 255},
      {100.0f, "-3", -33, -33}, {100.0f, "0", 0, 0},       {100.0f, "", 0, 0},
      {100.0f, "abc", 0, 0},    {3.0e10f, "1", 2147483647, 255},
  };
  for (const auto& c : cases) {
    _fixedString<100> divider;
    divider.assign(c.divider);
    int code = exitCodeFromScore(c.score, divider);
    EXPECT_EQ(code, c.code) << c.score << " / " << c.divider;
    EXPECT_EQ(clampExitCode(code), c.returned);
  }
}

TEST(CommandLine, CoreTimeIsA32BitProduct) {
  EXPECT_EQ(61999 / 1000, 61);
  EXPECT_EQ(coreTime(61999, 16), 991984);
  EXPECT_EQ(coreTime(2000000000, 2), (int32_t)(uint32_t)4000000000u);
}

TEST(CommandLine, UsageTextHasThirteenPiecesWithTheAllLineJoined) {
  testing::internal::CaptureStdout();
  printUsage();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Usage: \nDirUrarovavu [testName]", 0), 0u);
  EXPECT_NE(out.find("smaller than 255.\t All: (default) Test all cores for ~1 minute \n"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 47), "\t SingleSpeed: Test 1 core only for ~8 seconds\n");
}

// Logical processors of all groups, from recorded machines.
TEST(ProcessorCount, CountsEveryGroup) {
  const struct {
    const char* machine;
    int count;
  } cases[] = {{"intel-xeon-gold6230-2s-80cpu", 80},
               {"amd-epyc-7451-2s-96cpu", 96},
               {"intel-i7-1165G7-tigerlake", 8},
               {"vm-kvm-skylake-offline", 2}};
  for (const auto& c : cases) {
    std::string root = std::string(PS_TESTDATA_DIR) + "/linux/" + c.machine;
    setSystemRoot(root.c_str());
    EXPECT_EQ(getLogicalProcessorCount(), c.count) << c.machine;
  }
  setSystemRoot("/");
}

}  // namespace
}  // namespace ps
