// The whole machine report of every recorded machine, compared byte for byte
// with a checked-in file. PS_UPDATE_GOLDEN=1 rewrites the files after a deliberate change.
#include <cstdlib>

#include "machine/cpu_name.h"
#include "machine/cpu_survey.h"
#include "machine/machine_report.h"
#include "recorded_machine.h"

namespace ps {
namespace {

std::vector<std::string> recordedMachines() {
  std::vector<std::string> machines;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(PS_TESTDATA_DIR) + "/linux", ignored))
    if (entry.is_directory()) machines.push_back(entry.path().filename().string());
  std::sort(machines.begin(), machines.end());
  return machines;
}

class GoldenReport : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenReport, Matches) {
  const std::string path = std::string(PS_TESTS_DIR) + "/machine/golden/" + GetParam() + ".txt";
  const testSupport::_recordedRoot root(GetParam().c_str(), nullptr);
  std::unique_ptr<_cpuInfo> info(newCpuInfo());
  analyseCpuName(*info);
  cpuInfoWithWait(*info, 0);
  std::unique_ptr<_fixedString<5000>> text(new _fixedString<5000>());
  const std::string report = buildMachineReport(*info, *text).text;
  const char* update = std::getenv("PS_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") std::ofstream(path, std::ios::binary) << report;
  EXPECT_EQ(testSupport::fileBytes(path), report) << "rewrite with PS_UPDATE_GOLDEN=1 if the change is meant";
}

INSTANTIATE_TEST_SUITE_P(Recorded, GoldenReport, ::testing::ValuesIn(recordedMachines()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace ps
