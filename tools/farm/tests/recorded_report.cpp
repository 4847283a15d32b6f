// Test tool: prints the machine report the program would build on a recorded
// machine, so the farm parser is checked against the report code as it is.
// Usage: recorded_report <recorded machine dir> [<SMBIOS table dir>]
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "machine/cpu_info.h"
#include "machine/cpu_name.h"
#include "machine/cpu_survey.h"
#include "machine/machine_report.h"
#include "platform/windows_api.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: recorded_report <machine dir> [<SMBIOS table dir>]\n");
    return 2;
  }
  // The platform layer reads proc, sys/devices and the firmware tables below one root.
  char pattern[] = "/tmp/ps-report-XXXXXX";
  if (!mkdtemp(pattern)) return 2;
  const std::string root = pattern;
  std::error_code ignored;
  auto link = [&](const fs::path& target, const std::string& at) {
    fs::create_directories(fs::path(root + at).parent_path(), ignored);
    fs::create_directory_symlink(fs::absolute(target), root + at, ignored);
  };
  link(fs::path(argv[1]) / "proc", "/proc");
  link(fs::path(argv[1]) / "sys/devices", "/sys/devices");
  if (argc > 2) link(argv[2], "/sys/firmware/dmi/tables");
  ps::setSystemRoot(root.c_str());

  std::unique_ptr<ps::_cpuInfo> info(ps::newCpuInfo());
  ps::analyseCpuName(*info);
  ps::cpuInfoWithWait(*info, 0);
  ps::_fixedString<5000> report;
  ps::buildMachineReport(*info, report);
  fwrite(report.text, 1, report.length, stdout);

  ps::setSystemRoot("/");
  fs::remove_all(root, ignored);  // the links only
  return 0;
}
