// What each recorded machine's golden report does not show, one machine a
// line in recorded_machines.txt: the processors of all groups, their order
// and grouping, where the rated clock comes from, and the performance data.
#include <sstream>

#include "driver/processor_count.h"
#include "processor_calls.h"

namespace ps {
namespace {

using namespace testSupport;

// The data file's rows, split at '|' and trimmed.
std::vector<std::vector<std::string>> factRows() {
  std::vector<std::vector<std::string>> rows;
  std::istringstream file(fileBytes(std::string(PS_TESTS_DIR) + "/platform/recorded_machines.txt"));
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '|');) {
      cell.erase(0, cell.find_first_not_of(' '));
      fields.push_back(cell.erase(cell.find_last_not_of(' ') + 1));
    }
    rows.push_back(fields);
  }
  return rows;
}

class RecordedMachine : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(RecordedMachine, Facts) {
  const std::vector<std::string>& row = GetParam();
  ASSERT_EQ(row.size(), 6u);
  const _scopedRoot root(machineRoot(row[0]));
  // Every group counts, and each logical processor has its registry key.
  const int logical = getLogicalProcessorCount();
  EXPECT_EQ(std::to_string(logical), row[1]);
  EXPECT_NE(processorKeyValues(logical - 1).first, u"<no key>");
  EXPECT_EQ(processorKeyValues(logical).first, u"<no key>");
  std::string cpus, groups, names;
  const auto& list = linuxLayer::processorSnapshot()->list.cpus;
  for (size_t i = 0; i < 4 && i < list.size(); ++i) cpus += (i ? " " : "") + std::to_string(list[i]);
  EXPECT_EQ(cpus, row[2]);
  int g = 0;
  for (const auto& shape : groupShapes()) {
    groups += (g ? " " : "") + std::to_string(shape[0]) + "/" + std::to_string(shape[1]) + "/" +
              std::to_string(shape[2]) + "/" + std::to_string(shape[3]);
    for (int n = 0; n < shape[0]; ++n) names += std::to_string(g) + "," + std::to_string(n) + " ";
    names += std::to_string(g++) + ",_Total ";
  }
  EXPECT_EQ(groups, row[3]);
  EXPECT_EQ(ratedClockOfAll().second, row[4]);
  // One instance per processor, one per group and one for all, named so.
  DWORD objects = 0;
  const auto instances = instancesOf(counterIndexes().at("Processor Information"), &objects);
  ASSERT_FALSE(instances.empty());
  std::string got;
  for (const std::string& instance : instances) got += instance.substr(0, instance.find(' ') + 1);
  EXPECT_EQ(got, names + "_Total ");
  EXPECT_EQ(instances.back(), "_Total " + row[5]);
}

INSTANTIATE_TEST_SUITE_P(Recorded, RecordedMachine, ::testing::ValuesIn(factRows()),
                         [](const ::testing::TestParamInfo<std::vector<std::string>>& info) {
                           std::string name = info.param[0];
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace ps
