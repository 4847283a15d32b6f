#include "bench/runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace {

TEST(Runner, SumsInDoubleRoundingToFloatWithA2PsFloor) {
  const double scores[] = {0.5, 1.0, 100.25, 200.5, 16777216.0, 1.0, 1.0};
  EXPECT_EQ(sumScores(scores, 2), 2.0f);
  EXPECT_EQ(sumScores(nullptr, 0), 2.0f);
  EXPECT_EQ(sumScores(scores + 2, 2), 300.75f);
  EXPECT_EQ(sumScores(scores + 4, 3), 16777216.0f);  // each step rounded to float: + 1 is lost
}

TEST(Runner, SingleCoreScoreIsScaledToTheMachine) {
  EXPECT_EQ(scaleSingleCore(100.0f, 8, false), 800.0f);
  // x 0.5 x 1.2 in single precision: 9.6000004 for 16 logical processors.
  EXPECT_EQ(scaleSingleCore(100.0f, 16, true), 960.000061f);
  // An unknown count credits one processor instead of zeroing the score.
  EXPECT_EQ(scaleSingleCore(100.0f, 0, false), 100.0f);
}

size_t count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

// The number in a field of a match, checked to be printed as "%5.3f" prints it.
double number(const std::smatch& match, size_t field = 1) {
  const std::string text = match[field].str();
  double value = std::stod(text);
  char formatted[64];
  snprintf(formatted, sizeof formatted, "%5.3f", value);
  EXPECT_EQ(text, formatted);
  return value;
}

TEST(Runner, NoWorkersGiveTheFloorAndStillTheReport) {
  _psTest test;
  test.info->coreCount = 0;
  EXPECT_EQ(test.psTest(0, false), 2.0f);
  const std::string log = test.log.toStdString();
  EXPECT_EQ(log.rfind("CPU PS Test...\nCreating 0 threads\n", 0), 0u);
  EXPECT_EQ(count(log, "NOTE: Tessel reads the information"), 1u);
  EXPECT_NE(log.find("=totalSpeed 2.000 PS (Average per core: 2.000 PS)\n"), std::string::npos);
}

// A verbose speed test on a recorded machine of 8 logical processors with hyperthreading: live lines,
// the report printed live, once, and the score scaled by 8 x 0.6.
TEST(Runner, VerboseSpeedTestPrintsLiveLines) {
  const std::string root = std::string(PS_TESTDATA_DIR) + "/linux/intel-i7-1165G7-tigerlake";
  setSystemRoot(root.c_str());
  QString message;
  testing::internal::CaptureStdout();
  float score = psTestSingleCore(message, true, true, true);
  std::string out = testing::internal::GetCapturedStdout();
  setSystemRoot("/");

  EXPECT_EQ(out.rfind("CPU PS Test...\nCreating 1 threads\nt\npsTest: threads created\n"
                      "psTest: starting threads - benchmark\n\npsTest: waiting for results...", 0), 0u) << out;
  EXPECT_EQ(count(out, "\npsTest: Calling cpuInfo\n"), 1u) << out;
  EXPECT_EQ(count(out, "NOTE: Tessel reads the information"), 1u) << out;
  EXPECT_NE(out.find("CPU Core Count:      8\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\n      t0:**********preheat done**********\n"), std::string::npos);
  // Printed in passes 1, 2, 4 and 7 of the timed phase only.
  EXPECT_EQ(count(out, "t0:Ft "), 4u);

  // The report may come before or after worker 0's last line.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("\n      totalTime (.*)\n"))) << out;
  number(m);
  ASSERT_TRUE(std::regex_search(out, m, std::regex("\npsTest: all Threads done\n"
                                                   "psTest: adding thread 0: (.*)\n"
                                                   "psTest: totalSpeed (.*) PS   \\(Average per core:  (.*) PS\\)\n"
                                                   "psTest: PS_Result: (.*)\n$")))
      << out;
  const double worker = number(m, 1), total = number(m, 2), result = number(m, 4);
  EXPECT_EQ(m[3].str(), m[2].str());  // one thread: the average is the total
  EXPECT_EQ(total, worker);
  EXPECT_NEAR(result, total * 4.8, 0.003);
  EXPECT_NEAR(result, score, 0.0005);

  // The verbose log keeps the report out; its lines are checked end to end.
  EXPECT_EQ(message.toStdString().find("NOTE: Tessel"), std::string::npos);
}

}  // namespace
}  // namespace ps
