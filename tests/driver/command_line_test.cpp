#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>


namespace ps {
namespace {

// Windows returns a negative exit code; a Linux process could not.
#ifdef _WIN32
const bool negativeReturned = true;
#else
const bool negativeReturned = false;
#endif

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

// The printed code is the quotient before the cap; the process returns it
// capped at 255 and, outside Windows, 0 for a negative code.
TEST(CommandLine, ExitCodeLineAndReturnedCode) {
  const struct { float score; const char* divider; const char* printed; int returned; } cases[] = {
      {123.9f, "10", "12", 12},   {4000.0f, "10", "400", 255}, {255.9f, "1", "255", 255}, {256.0f, "1", "256", 255},
      {99.99f, "100", "0", 0},    {100.0f, "-3", "-33", negativeReturned ? -33 : 0},  {100.0f, "0", "0", 0},
      {100.0f, "abc", "0", 0},    {3.0e10f, "1", "2147483647", 255}, {-3.0e10f, "1", "-2147483648", negativeReturned ? INT_MIN : 0},
      // Out-of-range dividers saturate as the Windows runtime's atoi does; glibc's wraps 4294967306 to 10.
      {4000.0f, "4294967306", "0", 0}, {3.0e10f, "99999999999999999999", "13", 13},
      {-3.0e10f, "-99999999999999999999", "13", 13},
  };
  for (const auto& c : cases) {
    _commandLine line = parse({"All", "exitCodeThreshold", c.divider});
    testing::internal::CaptureStdout();
    int returned = reportExitCode(line, c.score);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Returning exit code ") + c.printed + "\n")
        << c.score << " / " << c.divider;
    EXPECT_EQ(returned, c.returned) << c.score << " / " << c.divider;
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
