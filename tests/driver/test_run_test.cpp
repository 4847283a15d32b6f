#include "driver/test_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ps {
namespace {

// Stand-in runners: each call is recorded and returns the next of a list of
// scores, and replaces the message with the call's number.
struct _call {
  bool all, verbose, speedTest, singleThread;
};
std::vector<_call> calls;
std::vector<float> scores;

float nextScore(QString& message) {
  message = QString("run %1").arg(calls.size());
  return scores[(calls.size() - 1) % scores.size()];
}
float standInAll(QString& message, bool verbose) {
  calls.push_back({true, verbose, false, false});
  return nextScore(message);
}
float standInSingleCore(QString& message, bool verbose, bool speedTest, bool singleThread) {
  calls.push_back({false, verbose, speedTest, singleThread});
  return nextScore(message);
}

// Test names match ignoring case; no name is All.
TEST(TestRun, RunsTheChosenRunnerAndAveragesRepeatedRuns) {
  const struct { const char* name; size_t runs; _call call; std::vector<float> scores; float score; } cases[] = {
      {"", 1, {true, false, false, false}, {123.5f}, 123.5f},
      {"ALL", 1, {true, false, false, false}, {123.5f}, 123.5f},
      {"allverbose", 1, {true, true, false, false}, {7.25f}, 7.25f},
      {"singleSpeed", 1, {false, false, true, true}, {50.0f}, 50.0f},
      {"Single", 1, {false, false, false, true}, {3.0f}, 3.0f},
      {"Single5", 5, {false, false, false, true}, {1.0f, 2.0f, 3.0f, 4.0f, 10.0f}, 4.0f},
      // Added in single precision in run order: the ones are lost next to 2^24.
      {"Single5Verbose", 5, {false, true, false, true}, {16777216.0f, 1.0f, 1.0f, 1.0f, 1.0f}, 16777216.0f / 5.0f},
      {"Single10", 10, {false, false, false, true}, {1.0f, 2.0f}, 1.5f},
      {"SINGLE10VERBOSE", 10, {false, true, false, true}, {4.0f}, 4.0f},
  };
  const _runners standIns = {standInAll, standInSingleCore};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    _testChoice choice{};
    ASSERT_TRUE(chooseTest(_fixedString<100>().assign(c.name), choice));
    calls.clear();
    scores = c.scores;
    QString message = "left over";
    EXPECT_EQ(runChosenTest(choice, message, standIns), c.score);
    ASSERT_EQ(calls.size(), c.runs);
    for (const _call& call : calls)
      EXPECT_TRUE(call.all == c.call.all && call.verbose == c.call.verbose && call.speedTest == c.call.speedTest &&
                  call.singleThread == c.call.singleThread);
    // The last run's message is the one printed.
    EXPECT_EQ(message.toStdString(), "run " + std::to_string(c.runs));
  }
  _testChoice choice{};
  for (const char* unknown : {"Single5x", "Singl", "LoremIpsum", "All "})
    EXPECT_FALSE(chooseTest(_fixedString<100>().assign(unknown), choice)) << unknown;
}

}  // namespace
}  // namespace ps
