#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorded_machine.h"

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
  EXPECT_STREQ(line.keyword.text, "exitCodeThreshold");
  EXPECT_STREQ(line.divider.text, "12");
  EXPECT_TRUE(wantsExitCode(line));

  EXPECT_TRUE(parse({}).testName.isEmpty());
  EXPECT_FALSE(wantsExitCode(parse({})));
  EXPECT_TRUE(wantsExitCode(parse({"All", "EXITCODETHRESHOLD", "10"})));
  EXPECT_FALSE(wantsExitCode(parse({"All", "10", "exitCodeThreshold"})));
}

TEST(CommandLine, FillerKeywordsAnywhereIgnoringCase) {
  _commandLine line = parse({"All", "x_houdinilog_y", "LoremIpsum"});
  EXPECT_TRUE(line.loremIpsum && !line.blenderLog && line.houdiniLog);
  EXPECT_FALSE(parse({std::string(100, 'x') + "BlenderLog"}).blenderLog);  // past the first 100 characters
}

TEST(CommandLine, ExitCodeLineAndReturnedCode) {
  for (const auto& c : testSupport::dataCases("driver/exit_codes.txt")) {
    SCOPED_TRACE(c.fields[0] + " / " + c.fields[1]);
    testing::internal::CaptureStdout();
    const int returned = reportExitCode(parse({"All", "exitCodeThreshold", c.fields[1]}), std::stof(c.fields[0]));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Returning exit code " + c.fields[2] + "\n");
    EXPECT_EQ(std::to_string(returned), c.fields[3]);
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(reportExitCode(parse({"All", "10", "exitCodeThreshold"}), 4000.0f), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(CommandLine, CoreTimeIsA32BitProduct) {
  EXPECT_EQ(coreTime(61999, 16), 991984);
  EXPECT_EQ(coreTime(2000000000, 2), (int32_t)(uint32_t)4000000000u);
}

}  // namespace
}  // namespace ps
