#include "driver/filler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace ps {
namespace {

std::string captured(void (*print)()) {
  testing::internal::CaptureStdout();
  print();
  return testing::internal::GetCapturedStdout();
}

TEST(Filler, BlocksPrintEveryPieceWhole) {
  const struct { void (*print)(); size_t bytes; long lineBreaks; } blocks[] = {
      {printLoremIpsum, 4680, 21}, {printBlenderLog, 14849, 117}, {printHoudiniLog, 14055, 173}};
  for (const auto& block : blocks) {
    SCOPED_TRACE(block.bytes);
    const std::string out = captured(block.print);
    EXPECT_EQ(out.size(), block.bytes);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), block.lineBreaks);
  }
  // A line ending in '%' is text, not a format.
  EXPECT_NE(captured(printHoudiniLog).find("| PROGRESS: 100%\n"), std::string::npos);
  const std::string lorem = captured(printLoremIpsum);
  EXPECT_EQ(lorem.rfind("\n\nLorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod", 0), 0u);
  EXPECT_EQ(lorem.substr(lorem.size() - 18), "worse pains.\n\n\n\n\n\n");
}

TEST(Filler, LogLinesAreNumberedInOrder) {
  // Each log's line numbers as inclusive ranges.
  const struct { const char* const* pieces; int count; std::vector<std::pair<int, int>> numbers; } logs[] = {
      {blenderLogPieces, blenderLogPieceCount, {{8, 73}, {123, 125}, {132, 159}, {189, 202}, {306, 311}}},
      {houdiniLogPieces, houdiniLogPieceCount, {{8, 149}, {156, 186}}},
  };
  for (const auto& log : logs) {
    std::vector<int> expected;
    for (const auto& range : log.numbers)
      for (int n = range.first; n <= range.second; ++n) expected.push_back(n);
    ASSERT_EQ((int)expected.size(), log.count);
    for (int i = 0; i < log.count; ++i) {
      ASSERT_NE(log.pieces[i], nullptr);
      const std::string line = log.pieces[i];
      char prefix[16];
      snprintf(prefix, sizeof prefix, "R%3d| ", expected[i]);
      // One line per piece, printable ASCII only.
      EXPECT_TRUE(line.rfind(prefix, 0) == 0 && line.find('\n') == line.size() - 1 &&
                  std::all_of(line.begin(), line.end() - 1, [](char c) { return c >= 32 && c < 127; }))
          << line;
    }
  }
}

}  // namespace
}  // namespace ps
