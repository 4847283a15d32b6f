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

TEST(CpuSurvey, RecordedMachines) {
  for (const auto& c : testSupport::dataCases("machine/survey_machines.txt")) {
    SCOPED_TRACE(c.fields[0]);
    ASSERT_EQ(c.fields.size(), 9u);
    const testSupport::_recordedRoot root(c.fields[0].c_str(), nullptr);
    std::unique_ptr<_cpuInfo> info(newCpuInfo());
    info->coreCount = std::stoi(c.fields[1]);
    info->hyperthreading = c.fields[2] == "1";
    info->mhzMax = std::stoll(c.fields[3]);
    info->mhzSummed = 777;
    cpuInfoWithWait(*info, 0);
    EXPECT_EQ(std::to_string(info->coreCount), c.fields[1]);
    EXPECT_EQ(info->coreCount == 0, !info->errorText.isEmpty()) << info->errorText.text;  // the name analysis ran
    std::string coreHT;
    for (bool ht : info->coreHT) coreHT += ht ? '1' : '0';
    EXPECT_EQ(c.fields[4] + std::string(maxRecordedProcessors - c.fields[4].size(), c.fields[2][0]), coreHT);
    const std::vector<int64_t> nominal = testSupport::numbers(c.fields[5]), current = testSupport::numbers(c.fields[6]);
    EXPECT_EQ(nominal, std::vector<int64_t>(info->coreMhzInfo, info->coreMhzInfo + nominal.size()));
    EXPECT_EQ(current, std::vector<int64_t>(info->coreMhzCur, info->coreMhzCur + current.size()));
    EXPECT_EQ(info->coreCount ? -1 : 0, info->coreMhzMin[0]);
    EXPECT_EQ(std::to_string(info->mhzSummedMeasured) + " " + std::to_string(info->mhzSummedPerCore),
              c.fields[7] + " " + c.fields[8]);
  }
}

}  // namespace
}  // namespace ps
