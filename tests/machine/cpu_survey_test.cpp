#include "machine/cpu_survey.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/windows_api.h"

namespace ps {
namespace {

TEST(cpuSurveyTest, BoostEstimateAndHyperthreadingWeight) {
  struct {
    int64_t v, mhzMax, estimate;
    int32_t weight;  // of the estimate
  } cases[] = {
      {3000, 4000, 3500, 2275},
      {3000, -1, 4200, 2730},
      {3000, 0, 4200, 2730},
      {2000, 5000, 3300, 2145},  // the maximum is capped at 4600
      {-1, 4000, -2, -1},        // a missing registry clock
      {-1, -1, -1, 0},
      {0, 4000, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(boostEstimate(c.v, c.mhzMax), c.estimate);
    EXPECT_EQ(hyperthreadingWeight(c.estimate), c.weight);
  }
  // Values from a bad counter block saturate rather than overflow.
  EXPECT_EQ(hyperthreadingWeight(4294967295ll), INT32_MAX);
  EXPECT_EQ(hyperthreadingWeight(-(1ll << 40)), INT32_MIN);
}

SYSTEM_LOGICAL_PROCESSOR_INFORMATION record(LOGICAL_PROCESSOR_RELATIONSHIP relationship, uint64_t mask) {
  SYSTEM_LOGICAL_PROCESSOR_INFORMATION r = {};
  r.ProcessorMask = mask;
  r.Relationship = relationship;
  return r;
}

std::vector<bool> mark(const std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION>& records, uint32_t extraBytes = 0) {
  std::vector<uint8_t> bytes(records.size() * sizeof(records[0]) + extraBytes, 0xFF);
  if (!records.empty()) memcpy(bytes.data(), records.data(), records.size() * sizeof(records[0]));
  std::unique_ptr<bool[]> coreHT(new bool[maxRecordedProcessors]);
  int written = markSharedCores(bytes.data(), (uint32_t)bytes.size(), coreHT.get());
  return std::vector<bool>(coreHT.get(), coreHT.get() + written);
}

TEST(cpuSurveyTest, TopologyMarksOneOrTwoEntriesPerCore) {
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> twoThreads, oneThread;
  for (int core = 0; core < 8; ++core) {
    twoThreads.push_back(record(RelationProcessorCore, 3ull << (2 * core)));
    oneThread.push_back(record(RelationProcessorCore, 1ull << core));
  }
  EXPECT_EQ(mark(twoThreads), std::vector<bool>(16, true));
  EXPECT_EQ(mark(oneThread), std::vector<bool>(8, false));

  // Four threads still write two entries; other relationships and a
  // trailing partial record are skipped.
  std::vector<bool> mixed = mark({record(RelationProcessorCore, 0xF), record(RelationCache, 0x3),
                                  record(RelationProcessorPackage, 0xFF), record(RelationProcessorCore, 0x10)},
                                 16);
  EXPECT_EQ(mixed, (std::vector<bool>{true, true, false}));

  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> many(300, record(RelationProcessorCore, 3));
  EXPECT_EQ(mark(many).size(), 512u);
  EXPECT_TRUE(mark({}).empty());
}

// The survey over a recorded machine, with the record as the name analysis
// would leave it.
class recordedSurveyTest : public ::testing::Test {
 protected:
  void TearDown() override { setSystemRoot("/"); }
  std::unique_ptr<_cpuInfo> survey(const char* machine, int coreCount, bool hyperthreading, int64_t mhzMax) {
    setSystemRoot((std::string(PS_TESTDATA_DIR) + "/linux/" + machine).c_str());
    std::unique_ptr<_cpuInfo> info(newCpuInfo());
    info->coreCount = coreCount;
    info->hyperthreading = hyperthreading;
    info->mhzMax = mhzMax;
    info->mhzSummed = 777;
    cpuInfoWithWait(*info, 0);
    return info;
  }
};

TEST_F(recordedSurveyTest, TigerLakeWithHyperthreading) {
  std::unique_ptr<_cpuInfo> info = survey("intel-i7-1165G7-tigerlake", 8, true, 4700);
  EXPECT_STREQ(info->errorText.text, "");
  const int64_t current[8] = {1929, 2114, 1403, 2498, 2240, 2500, 2139, 2029};
  for (int i = 0; i < 8; ++i) {
    EXPECT_TRUE(info->coreHT[i]);
    EXPECT_EQ(info->coreMhzInfo[i], 1200);  // base_frequency
    EXPECT_EQ(info->coreMhzCur[i], current[i]);
    EXPECT_EQ(info->coreMhzMin[i], -1);
    EXPECT_EQ(info->coreMhzMax[i], -1);
  }
  EXPECT_EQ(info->coreMhzInfo[8], -1);
  EXPECT_EQ(info->coreMhzCur[8], -1);
  EXPECT_EQ(info->mhzSummedMeasured, 10950);
  EXPECT_EQ(info->mhzSummedPerCore, 8 * 1287);  // W(E(1200)) = W(1980)
}

TEST_F(recordedSurveyTest, HybridWithoutSmtAndMissingKeys) {
  // Three more processors than the machine has: their keys are missing.
  std::unique_ptr<_cpuInfo> info = survey("intel-i5-L16G7-lakefield-hybrid", 8, false, 3000);
  EXPECT_STREQ(info->errorText.text, "");
  const int64_t nominal[8] = {1400, 1400, 1400, 1400, 2000, -1, -1, -1};
  for (int i = 0; i < 8; ++i) {
    EXPECT_FALSE(info->coreHT[i]);
    EXPECT_EQ(info->coreMhzInfo[i], nominal[i]);
    EXPECT_EQ(info->coreMhzCur[i], i < 5 ? 800 : 0);
  }
  EXPECT_EQ(info->mhzSummedMeasured, 5 * 800);
  EXPECT_EQ(info->mhzSummedPerCore, 4 * 2200 + 2500 - 3 * 2);
}

TEST_F(recordedSurveyTest, HyperthreadingFlagFillsWhatTopologyDoesNotReach) {
  std::unique_ptr<_cpuInfo> info = survey("intel-i5-L16G7-lakefield-hybrid", 5, true, 0);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(info->coreHT[i]);
  EXPECT_TRUE(info->coreHT[5]);
  EXPECT_TRUE(info->coreHT[511]);
  EXPECT_EQ(info->mhzSummedPerCore, 4 * 1960 + 2800);  // v × 1.4 without a firmware maximum
}

TEST_F(recordedSurveyTest, NoProcessorsChangesNothing) {
  std::unique_ptr<_cpuInfo> info = survey("no-such-machine", 0, false, 0);
  EXPECT_EQ(info->coreCount, 0);
  for (int i = 0; i < maxRecordedProcessors; ++i) {
    EXPECT_FALSE(info->coreHT[i]);
    EXPECT_EQ(info->coreMhzInfo[i], 0);
    EXPECT_EQ(info->coreMhzCur[i], 0);
  }
  EXPECT_EQ(info->mhzSummedMeasured, 0);
  EXPECT_EQ(info->mhzSummedPerCore, 0);
}

TEST_F(recordedSurveyTest, MoreProcessorsThanTheRecordHolds) {
  std::unique_ptr<_cpuInfo> info = survey("amd-epyc-7451-2s-96cpu", 600, true, 0);
  EXPECT_EQ(info->coreCount, 600);
  EXPECT_GE(info->mhzSummedMeasured, 1);
}

}  // namespace
}  // namespace ps
