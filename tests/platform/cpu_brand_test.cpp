// "ProcessorNameString" of the running machine: CPUID's brand string where
// the processor has one. Recorded and hand-made trees answer from their
// cpuinfo (the broken-tree and recorded-machine tests), never from CPUID.
#include "platform/linux/cpu_brand.h"
#include "platform/linux/snapshot.h"
#include "recorded_machine.h"

namespace ps {
namespace {

using namespace testSupport;

TEST(CpuBrand, RawBrandStringsAsWindowsKeepsThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"       Intel(R) Xeon(R) CPU E5-2680 v3 @ 2.50GHz", "Intel(R) Xeon(R) CPU E5-2680 v3 @ 2.50GHz"},
      {"AMD Ryzen 5 1600 Six-Core Processor            ", "AMD Ryzen 5 1600 Six-Core Processor            "},
      {std::string("AMD EPYC\0Z", 10), "AMD EPYC"},  // no terminating NUL in the full 48 bytes either
      {std::string(48, ' '), ""},
      {"", ""},
  };
  for (const auto& [raw, name] : cases) {
    char bytes[48] = {};
    raw.copy(bytes, sizeof bytes);
    EXPECT_EQ(linuxLayer::brandName(bytes), name) << '"' << raw << '"';
  }
}

// Where cpuinfo's "model name" differs (a sandboxed kernel writes its own), the key still says what CPUID says.
TEST(CpuBrand, RunningMachineNamedByCpuidElseCpuinfo) {
  std::string name = linuxLayer::cpuidBrandName();
  if (name.empty()) {
    linuxLayer::_cpuinfoFile cpuinfo;
    linuxLayer::readCpuinfo(&cpuinfo);
    linuxLayer::processorName(cpuinfo, linuxLayer::processorSnapshot()->list.cpus.at(0), &name);
  }
  EXPECT_EQ(processorKeyValues(0).first, wide(name));
}

}  // namespace
}  // namespace ps
