#include "bench/runner.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace ps {
namespace {

TEST(Runner, FormatThousandsGroupsDigitsButNeverSplitsALeading1000) {
  const struct {
    int64_t value;
    const char* text;
  } cases[] = {{0, "0"},           {999, "999"},           {1000, "1000"},
               {1001, "1 001"},    {1234567, "1 234 567"}, {1000999, "1000 999"},
               {-1234, "-1 234"},  {1000000000, "1000 000 000"},
               {1234567890123LL, "1234 567 890 123"},
               {INT64_MIN, "-9223372036 854 775 808"}};
  for (const auto& c : cases) EXPECT_EQ(formatThousands(c.value).toStdString(), c.text) << c.value;
}

TEST(Runner, SumsInDoubleRoundingToFloatWithA2PsFloor) {
  const double small[] = {0.5, 1.0};
  EXPECT_EQ(sumScores(small, 2), 2.0f);
  EXPECT_EQ(sumScores(nullptr, 0), 2.0f);
  // Each step is rounded to float: 16777216 + 1 stays 16777216.
  const double big[] = {16777216.0, 1.0, 1.0};
  EXPECT_EQ(sumScores(big, 3), 16777216.0f);
  const double plain[] = {100.25, 200.5};
  EXPECT_EQ(sumScores(plain, 2), 300.75f);
}

TEST(Runner, SingleCoreScoreIsScaledToTheMachine) {
  EXPECT_EQ(scaleSingleCore(100.0f, 8, false), 800.0f);
  float factor = 16.0f * 0.5f;
  factor = factor * 1.2f;
  EXPECT_EQ(scaleSingleCore(100.0f, 16, true), 100.0f * factor);
  // An unknown count credits one processor instead of zeroing the score.
  EXPECT_EQ(scaleSingleCore(100.0f, 0, false), 100.0f);
}

TEST(Runner, NoWorkersGiveTheFloorAndStillTheReport) {
  _psTest test;
  test.info->coreCount = 0;
  float total = test.psTest(0, false);
  EXPECT_EQ(total, 2.0f);
  std::string log = test.log.toStdString();
  EXPECT_EQ(log.rfind("CPU PS Test...\nCreating 0 threads\n", 0), 0u);
  EXPECT_NE(log.find("NOTE: Tessel reads the information"), std::string::npos);
  EXPECT_NE(log.find("=totalSpeed 2.000 PS (Average per core: 2.000 PS)\n"), std::string::npos);
}

// A verbose speed test: live lines of the runner and of worker 0, and the
// report printed live rather than logged.
TEST(Runner, VerboseSpeedTestPrintsLiveLines) {
  QString message;
  testing::internal::CaptureStdout();
  float score = psTestSingleCore(message, true, true, true);
  std::string out = testing::internal::GetCapturedStdout();
  std::string log = message.toStdString();

  EXPECT_EQ(out.rfind("CPU PS Test...\nCreating 1 threads\nt\npsTest: threads created\n"
                      "psTest: starting threads - benchmark\n\npsTest: waiting for results...",
                      0),
            0u)
      << out;
  EXPECT_NE(out.find("\npsTest: Calling cpuInfo\n"), std::string::npos);
  EXPECT_NE(out.find("NOTE: Tessel reads the information"), std::string::npos);
  EXPECT_NE(out.find("\n      t0:**********preheat done**********\n"), std::string::npos);
  EXPECT_NE(out.find("      totalTime "), std::string::npos);
  EXPECT_TRUE(std::regex_search(out, std::regex("\npsTest: all Threads done\npsTest: adding thread 0: [0-9.]+\n"
                                                "psTest: totalSpeed [0-9.]+ PS   \\(Average per core:  [0-9.]+ PS\\)\n"
                                                "psTest: PS_Result: [0-9.]+\n$")))
      << out;
  // Printed in passes 1, 2, 4 and 7 of the timed phase only.
  size_t printed = 0;
  for (size_t at = 0; (at = out.find("t0:Ft ", at)) != std::string::npos; ++at) ++printed;
  EXPECT_EQ(printed, 4u);

  EXPECT_EQ(log.find("NOTE: Tessel"), std::string::npos);
  EXPECT_TRUE(std::regex_search(log, std::regex("adding thread 0: +[0-9]+\\.[0-9]{3}PS \\([0-9 ]+ ms, 7 loops\\)\n")))
      << log;
  char expected[64];
  snprintf(expected, sizeof(expected), "PS_Result: %5.3f", score);
  EXPECT_EQ(log.substr(log.rfind("PS_Result: ")), expected);
}

}  // namespace
}  // namespace ps
