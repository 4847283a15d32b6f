// The processor side of the layer on hand-made trees with missing, empty,
// garbage or oversized files: every answer stays defined.
#include "platform/linux/snapshot.h"
#include "platform/linux/usable_cpus.h"
#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;

// A key's name as the data file writes it: \uXXXX beyond ASCII.
std::string printable(const std::u16string& text) {
  std::string out;
  char unit[8];
  for (const char16_t c : text) out += c < 128 ? std::string(1, char(c)) : (snprintf(unit, 8, "\\u%04X", c), unit);
  return out;
}

TEST(BrokenTrees, ProcessorFiles) {
  std::vector<_dataCase> cases = dataCases("platform/broken_trees.txt");
  // A huge cpuinfo is read up to its cap; entries before the cut stay; lines without a colon cost no more.
  std::string noColons;
  for (int i = 0; i < 300000; ++i) noColons += "x\n";
  cases.push_back({{"0 1", "1 2 1 2", "First", "Second", "-1"},
                   {{"sys/devices/system/cpu/online", "0-1"},
                    {"proc/cpuinfo", "processor : 0\n" + noColons + "model name : First\n\nprocessor : 1\nmodel name : "
                                     "Second\nflags : " + std::string(3 << 20, 'x') + "\n"}}});
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - &cases[0]);
    ASSERT_EQ(c.fields.size(), 5u);
    const _tempTree tree(c.files);
    const _scopedRoot root(tree.root());
    const auto snapshot = linuxLayer::processorSnapshot();
    std::string cpus, records;
    char mask[24];
    for (const int cpu : snapshot->list.cpus) cpus += (cpus.empty() ? "" : " ") + std::to_string(cpu);
    EXPECT_EQ(cpus, c.fields[0]);
    size_t count = 0;
    if (!snapshot->records.empty())
      for (const auto& r : snapshot->records[0]) {
        snprintf(mask, sizeof(mask), count++ ? " %llx" : "%llx", static_cast<unsigned long long>(r.ProcessorMask));
        records += mask;
      }
    EXPECT_EQ(records, c.fields[1]);
    DWORD length = 0;
    GetLogicalProcessorInformation(nullptr, &length);
    EXPECT_EQ(length, count * 32);
    EXPECT_EQ(GetActiveProcessorGroupCount(), snapshot->list.cpus.empty() ? 0 : 1);
    EXPECT_EQ(printable(processorKeyValues(0).first) + " " + std::to_string(processorKeyValues(0).second),
              c.fields[2] + " " + c.fields[4]);
    EXPECT_EQ(printable(processorKeyValues(1).first), c.fields[3]);
  }
}

// Overlapping ranges up to the size cap give each CPU once, without a list entry per range member.
TEST(BrokenTrees, CpuListOfOverlappingRanges) {
  std::string text;
  while (text.size() < 60000) text += "0-16383,";
  std::vector<int> cpus;
  ASSERT_TRUE(linuxLayer::parseCpuList(text + "5", &cpus));
  EXPECT_TRUE(cpus.size() == 16384 && cpus.front() == 0 && cpus.back() == 16383);
  EXPECT_FALSE(linuxLayer::parseCpuList(text + "16384", &cpus));
}

}  // namespace
}  // namespace ps
