#include "driver/test_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorded_machine.h"

namespace ps {
namespace {

// Stand-in runners: each call is recorded and returns the next of a list of
// scores, and replaces the message with the call's number.
// A call is its flags: all, verbose, speed test, single thread.
std::vector<std::string> calls;
std::vector<float> scores;

float nextScore(QString& message) {
  message = QString("run %1").arg(calls.size());
  return scores[(calls.size() - 1) % scores.size()];
}
float standInAll(QString& message, bool verbose) {
  calls.push_back(std::string("1") + "01"[verbose] + "00");
  return nextScore(message);
}
float standInSingleCore(QString& message, bool verbose, bool speedTest, bool singleThread) {
  calls.push_back(std::string("0") + "01"[verbose] + "01"[speedTest] + "01"[singleThread]);
  return nextScore(message);
}

TEST(TestRun, RunsTheChosenRunnerAndAveragesRepeatedRuns) {
  const _runners standIns = {standInAll, standInSingleCore};
  for (const auto& c : testSupport::dataCases("driver/test_runs.txt")) {
    SCOPED_TRACE(c.fields[0]);
    _testChoice choice{};
    ASSERT_TRUE(chooseTest(_fixedString<100>().assign(c.fields[0].c_str()), choice));
    calls.clear();
    scores.clear();
    std::istringstream list(c.fields[3]);
    for (float score; list >> score;) scores.push_back(score);
    QString message = "left over";
    EXPECT_EQ(runChosenTest(choice, message, standIns), std::stof(c.fields[4]));
    ASSERT_EQ(std::to_string(calls.size()), c.fields[1]);
    for (const std::string& call : calls) EXPECT_EQ(call, c.fields[2]);
    // The last run's message is the one printed.
    EXPECT_EQ(message.toStdString(), "run " + c.fields[1]);
  }
  _testChoice choice{};
  for (const char* unknown : {"Single5x", "Singl", "LoremIpsum", "All "})
    EXPECT_FALSE(chooseTest(_fixedString<100>().assign(unknown), choice)) << unknown;
}

}  // namespace
}  // namespace ps
