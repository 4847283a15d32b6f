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
  _testChoice choice{};
  _fixedString<100> name;
  EXPECT_TRUE(chooseTest(name, choice));  // no name: All
  EXPECT_EQ(choice.runner, _runner::all);
  for (const char* known : {"all", "ALL", "AllVerbose", "Single", "Single5", "Single10Verbose"})
    EXPECT_TRUE(chooseTest(name.assign(known), choice)) << known;
  for (const char* unknown : {"Single5x", "Singl", "LoremIpsum", "All "})
    EXPECT_FALSE(chooseTest(name.assign(unknown), choice)) << unknown;

  ASSERT_TRUE(chooseTest(name.assign("singlespeed"), choice));
  EXPECT_TRUE(choice.runner == _runner::singleCore && choice.speedTest && choice.singleThread);
  EXPECT_EQ(choice.runs, 1);
  ASSERT_TRUE(chooseTest(name.assign("Single5Verbose"), choice));
  EXPECT_TRUE(choice.verbose && !choice.speedTest);
  EXPECT_EQ(choice.runs, 5);
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
  EXPECT_EQ(coreTime(61999, 16), 991984);
  EXPECT_EQ(coreTime(2000000000, 2), (int32_t)(uint32_t)4000000000u);
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
