#include "driver/filler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

std::string joined(const char* const* pieces, int count) {
  std::string all;
  for (int i = 0; i < count; ++i) all += pieces[i] ? pieces[i] : "<null>";
  return all;
}

TEST(Filler, LoremIpsumPiecesAndSizes) {
  std::string out = captured(printLoremIpsum);
  EXPECT_EQ(out, joined(loremIpsumPieces, loremIpsumPieceCount));
  EXPECT_EQ(out.size(), 4680u);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 21);

  const size_t sizes[loremIpsumPieceCount] = {449, 915, 973, 495, 1848};
  for (int i = 0; i < loremIpsumPieceCount; ++i) {
    ASSERT_NE(loremIpsumPieces[i], nullptr);
    EXPECT_EQ(strlen(loremIpsumPieces[i]), sizes[i]) << "piece " << i;
  }

  // Where each text starts in the output, with the line breaks before it.
  const std::pair<size_t, const char*> starts[] = {
      {0, "\n\nLorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod"},
      {443, "rum.\n\nDe Finibus Bonorum et Malorum 1.10.32  (Cicero)\nSed ut perspiciatis"},
      {1361, "?\n\nBut I must explain"},
      {2333, "?\n\n\nLorem ipsum dolor sit amet"},
      {2778, "rum.\n\nDe Finibus Bonorum et Malorum 1.10.33  (Cicero)\nAt vero eos et accusamus"},
      {3674, "t.\n\nOn the other hand, we denounce"},
  };
  for (const auto& start : starts) {
    EXPECT_EQ(out.compare(start.first, strlen(start.second), start.second), 0) << start.second;
  }
  EXPECT_EQ(out.substr(2, 445), out.substr(2337, 445));
  EXPECT_EQ(out.substr(out.size() - 18), "worse pains.\n\n\n\n\n\n");
}

struct LogBlock {
  const char* name;
  void (*print)();
  const char* const* pieces;
  int count;
  size_t bytes;
  std::vector<std::pair<int, int>> numbers;  // inclusive ranges
  size_t shortest, longest;
  const char* runStart;  // a run of like lines: how they start,
  int runFirst, runLength;  // their first line number and how many
};

TEST(Filler, LogBlocksLineByLine) {
  const LogBlock blocks[] = {
      {"BlenderLog", printBlenderLog, blenderLogPieces, blenderLogPieceCount, 14849,
       {{8, 73}, {123, 125}, {132, 159}, {189, 202}, {306, 311}}, 9, 417, "Fra:", 55, 68},
      {"HoudiniLog", printHoudiniLog, houdiniLogPieces, houdiniLogPieceCount, 14055,
       {{8, 149}, {156, 186}}, 7, 204, "'", 40, 50},
  };
  for (const LogBlock& block : blocks) {
    SCOPED_TRACE(block.name);
    std::string out = captured(block.print);
    EXPECT_EQ(out, joined(block.pieces, block.count));
    EXPECT_EQ(out.size(), block.bytes);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), block.count);

    std::vector<int> expected;
    for (const auto& range : block.numbers) {
      for (int n = range.first; n <= range.second; ++n) expected.push_back(n);
    }
    ASSERT_EQ((int)expected.size(), block.count);

    size_t shortest = SIZE_MAX, longest = 0;
    std::vector<int> run;  // indexes of the lines that start like the run
    for (int i = 0; i < block.count; ++i) {
      ASSERT_NE(block.pieces[i], nullptr);
      const std::string line = block.pieces[i];
      SCOPED_TRACE(line);
      // One line per piece, printable ASCII only.
      ASSERT_GE(line.size(), 7u);
      EXPECT_EQ(line.find('\n'), line.size() - 1);
      for (char c : line.substr(0, line.size() - 1)) EXPECT_TRUE(c >= 32 && c < 127);
      char prefix[16];
      snprintf(prefix, sizeof prefix, "R%3d| ", expected[i]);
      EXPECT_EQ(line.compare(0, 6, prefix), 0);
      shortest = std::min(shortest, line.size());
      longest = std::max(longest, line.size());
      if (line.compare(6, strlen(block.runStart), block.runStart) == 0) run.push_back(i);
    }
    EXPECT_EQ(shortest, block.shortest);
    EXPECT_EQ(longest, block.longest);
    ASSERT_EQ((int)run.size(), block.runLength);
    EXPECT_EQ(expected[run.front()], block.runFirst);
    EXPECT_EQ(run.back() - run.front() + 1, block.runLength);  // one unbroken run
  }
}

TEST(Filler, PercentSignsPrintAsTheyStand) {
  std::string out = captured(printHoudiniLog);
  EXPECT_NE(out.find("| PROGRESS: 100%\n"), std::string::npos);
  EXPECT_NE(out.find("  0% done"), std::string::npos);
  std::string pieces = joined(houdiniLogPieces, houdiniLogPieceCount);
  EXPECT_EQ(std::count(out.begin(), out.end(), '%'), std::count(pieces.begin(), pieces.end(), '%'));
  EXPECT_GT(std::count(out.begin(), out.end(), '%'), 10);
}

}  // namespace
}  // namespace ps
