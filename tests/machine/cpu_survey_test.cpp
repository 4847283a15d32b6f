#include "machine/cpu_survey.h"

#include "recorded_machine.h"

namespace ps {
namespace {

TEST(CpuSurvey, BoostEstimateAndHyperthreadingWeight) {
  EXPECT_EQ(3500, boostEstimate(3000, 4000));
  EXPECT_EQ(2275, hyperthreadingWeight(3500));
  EXPECT_EQ(3300, boostEstimate(2000, 5000));  // the maximum is capped at 4600
  EXPECT_EQ(-2, boostEstimate(-1, 4000));      // a missing registry clock
  EXPECT_EQ(-1, hyperthreadingWeight(-2));
  // Values from a bad counter block saturate rather than overflow.
  EXPECT_EQ(INT32_MAX, hyperthreadingWeight(4294967295ll));
  EXPECT_EQ(INT32_MIN, hyperthreadingWeight(-(1ll << 40)));
}

// Core records of the given masks after a cache record, which is skipped.
std::vector<bool> markCores(const std::vector<uint64_t>& coreMasks, uint32_t trailingBytes = 0) {
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records(coreMasks.size() + 1);
  records[0].Relationship = RelationCache;
  records[0].ProcessorMask = 3;
  for (size_t i = 0; i < coreMasks.size(); ++i) records[i + 1].ProcessorMask = coreMasks[i];
  std::vector<uint8_t> bytes(records.size() * sizeof(records[0]) + trailingBytes, 0xFF);
  memcpy(bytes.data(), records.data(), records.size() * sizeof(records[0]));
  std::unique_ptr<bool[]> coreHT(new bool[maxRecordedProcessors]);
  return std::vector<bool>(coreHT.get(), coreHT.get() + markSharedCores(bytes.data(), bytes.size(), coreHT.get()));
}

TEST(CpuSurvey, TopologyMarksOneOrTwoEntriesPerCore) {
  EXPECT_EQ(std::vector<bool>(16, true), markCores(std::vector<uint64_t>(8, 3)));
  EXPECT_EQ(std::vector<bool>(8, false), markCores(std::vector<uint64_t>(8, 1)));
  // Four threads still write two entries; a trailing partial record is skipped.
  EXPECT_EQ((std::vector<bool>{true, true, false}), markCores({0xF, 0x10}, 16));
  EXPECT_EQ(512u, markCores(std::vector<uint64_t>(300, 3)).size());
}

// The survey with the record as the name analysis would leave it; what the
// golden reports do not reach: a firmware maximum, counts that disagree with the machine.
TEST(CpuSurvey, RecordedMachines) {
  const struct {
    const char* machine;
    int coreCount;
    bool hyperthreading;
    int64_t mhzMax;
    std::string coreHT;  // as the topology marks it; the hyperthreading flag fills the rest
    std::vector<int64_t> nominal, current;
    int64_t measured, perCore;
  } cases[] = {
      // Three more processors than the machine has: their keys are missing.
      {"intel-i5-L16G7-lakefield-hybrid", 8, false, 3000, "00000",
       {1400, 1400, 1400, 1400, 1400, -1, -1, -1}, {800, 800, 800, 800, 800, 0, 0, 0}, 4000, 5 * 2200 - 6},
      // No processors change nothing: the arrays keep their zeros.
      {"no-such-machine", 0, false, 0, "", {0}, {0}, 0, 0},
      // More processors than the record holds; the calling group's 24 two-thread cores mark 48 entries.
      {"amd-epyc-7451-2s-96cpu", 600, true, 0, std::string(48, '1'), {}, {}, 180544, 96 * 2093},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    const testSupport::_recordedRoot root(c.machine, nullptr);
    std::unique_ptr<_cpuInfo> info(newCpuInfo());
    info->coreCount = c.coreCount;
    info->hyperthreading = c.hyperthreading;
    info->mhzMax = c.mhzMax;
    info->mhzSummed = 777;
    cpuInfoWithWait(*info, 0);
    EXPECT_EQ(c.coreCount, info->coreCount);
    EXPECT_EQ(c.coreCount == 0, !info->errorText.isEmpty()) << info->errorText.text;  // the name analysis ran
    std::string coreHT;
    for (bool ht : info->coreHT) coreHT += ht ? '1' : '0';
    EXPECT_EQ(c.coreHT + std::string(maxRecordedProcessors - c.coreHT.size(), c.hyperthreading ? '1' : '0'), coreHT);
    EXPECT_EQ(c.nominal, std::vector<int64_t>(info->coreMhzInfo, info->coreMhzInfo + c.nominal.size()));
    EXPECT_EQ(c.current, std::vector<int64_t>(info->coreMhzCur, info->coreMhzCur + c.current.size()));
    EXPECT_EQ(c.coreCount ? -1 : 0, info->coreMhzMin[0]);
    EXPECT_EQ(c.measured, info->mhzSummedMeasured);
    EXPECT_EQ(c.perCore, info->mhzSummedPerCore);
  }
}

}  // namespace
}  // namespace ps
