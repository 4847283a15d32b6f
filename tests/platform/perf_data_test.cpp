
#include "processor_calls.h"

namespace ps {
namespace {

using namespace testSupport;

TEST(PerfData, UnknownObjectShortBufferAndMissingClocks) {
  _tempTree tree({{"sys/devices/system/cpu/online", "0-2"},
                 {"sys/devices/system/cpu/cpu1/cpufreq/scaling_cur_freq", "1500000\n"},
                 {"proc/cpuinfo", "processor : 0\ncpu MHz : garbage\n"}});
  _scopedRoot root(tree.root());
  DWORD objects = 9;
  EXPECT_TRUE(instancesOf(238, &objects).empty());  // the older Processor object is not served
  EXPECT_EQ(objects, 0u);

  const DWORD index = counterIndexes().at("Processor Information");
  std::vector<BYTE> data(200);
  DWORD size = static_cast<DWORD>(data.size());
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, std::to_string(index).c_str(), nullptr, nullptr, data.data(), &size),
            ERROR_MORE_DATA);
  // No nominal clock anywhere, so no performance; totals average the known clocks.
  EXPECT_EQ(instancesOf(index, &objects),
            (std::vector<std::string>{"0,0 0 0", "0,1 1500 0", "0,2 0 0", "0,_Total 1500 0", "_Total 1500 0"}));
}

}  // namespace
}  // namespace ps
