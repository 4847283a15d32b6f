#include "driver/test_run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "recorded_machine.h"

namespace ps {
namespace {

TEST(TestRun, ChoosesTheRunnerAndAveragesRepeatedRuns) {
  for (const auto& c : testSupport::dataCases("driver/test_runs.txt")) {
    SCOPED_TRACE(c.fields[0]);
    _testChoice choice{};
    ASSERT_TRUE(chooseTest(_fixedString<100>().assign(c.fields[0].c_str()), choice));
    EXPECT_EQ(std::to_string(choice.runs), c.fields[1]);
    const std::string flags = {"01"[choice.runner == _runner::all], "01"[choice.verbose], "01"[choice.speedTest],
                               "01"[choice.singleThread]};
    EXPECT_EQ(flags, c.fields[2]);
    std::vector<float> scores;
    std::istringstream list(c.fields[3]);
    for (float score; list >> score;) scores.push_back(score);
    EXPECT_EQ(meanOfRuns(scores.data(), (int)scores.size()), std::stof(c.fields[4]));
  }
  _testChoice choice{};
  for (const char* unknown : {"Single5x", "Singl", "LoremIpsum", "All "})
    EXPECT_FALSE(chooseTest(_fixedString<100>().assign(unknown), choice)) << unknown;
}

}  // namespace
}  // namespace ps
