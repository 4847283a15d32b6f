#include "driver/filler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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

}  // namespace
}  // namespace ps
