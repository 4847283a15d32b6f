#include "bench/run_lines.h"

#include <gtest/gtest.h>

#include <string>

namespace ps {
namespace {

// Both forms of every line; three workers, so the average is not the total.
TEST(RunLines, PrintedAndLoggedForms) {
  const struct { _runLine line; const char* printed; const char* logged; } cases[] = {
      {startLine(2), "CPU PS Test...\nCreating 2 threads\n", "CPU PS Test...\nCreating 2 threads\n"},
      {workerLine(1, 150.2506, 1234567, 100), "psTest: adding thread 1: 150.251\n",
       "adding thread 1: 150.251PS (1 234 567 ms, 100 loops)\n"},
      {totalLine(300.75f, 3), "psTest: totalSpeed 300.750 PS   (Average per core:  100.250 PS)\n",
       "=totalSpeed 300.750 PS (Average per core: 100.250 PS)\n"},
      {resultLine(4.8f), "psTest: PS_Result: 4.800\n", "PS_Result: 4.800"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(c.line.printed.text, c.line.printed.length), c.printed);
    EXPECT_EQ(std::string(c.line.logged.text, c.line.logged.length), c.logged);
  }
}

TEST(RunLines, FormatThousandsGroupsDigitsButNeverSplitsALeading1000) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0"}, {999, "999"}, {1000, "1000"}, {1001, "1 001"}, {1234567, "1 234 567"}, {1000999, "1000 999"},
      {-1234, "-1 234"},  {1234567890123LL, "1234 567 890 123"}, {INT64_MIN, "-9223372036 854 775 808"}};
  for (const auto& c : cases) EXPECT_EQ(std::string(formatThousands(c.first).text), c.second) << c.first;
}

}  // namespace
}  // namespace ps
