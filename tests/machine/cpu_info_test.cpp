#include "machine/cpu_info.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace ps {
namespace {

TEST(CpuInfoRecord, StartsZeroFilled) {
  std::unique_ptr<_cpuInfo> info(newCpuInfo());
  EXPECT_EQ(0, info->coreCount);
  EXPECT_FALSE(info->hyperthreading);
  EXPECT_EQ(0, info->mhzLabel);
  EXPECT_EQ(0, info->mhzMax);
  EXPECT_EQ(0, info->coreMhzCur[maxRecordedProcessors - 1]);
  EXPECT_TRUE(info->cpuDescription.isEmpty());
  EXPECT_TRUE(info->errorText.isEmpty());
}

TEST(CpuInfoRecord, ErrorTextKeepsItsFirstThousandCharacters) {
  std::unique_ptr<_cpuInfo> info(newCpuInfo());
  std::string line(999, 'a');
  info->errorText.append(line.c_str());
  info->errorText.append("bc\n");
  EXPECT_EQ(1000, info->errorText.length);
  EXPECT_EQ(line + "b", std::string(info->errorText.text));
}

}  // namespace
}  // namespace ps
