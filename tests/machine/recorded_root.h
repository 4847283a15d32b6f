// A temporary system root made of links into the recorded machines and
// firmware tables, set as the platform's root while the object lives.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/windows_api.h"

namespace ps {

struct RecordedRoot {
  // machine: a directory under testdata/linux, table: one under
  // testdata/smbios; either may be null.
  RecordedRoot(const char* machine, const char* table) {
    char pattern[] = "/tmp/ps-root-XXXXXX";
    dir = mkdtemp(pattern) ? pattern : "/nonexistent-ps-root";
    const std::string data = PS_TESTDATA_DIR;
    if (machine) link(data + "/linux/" + machine + "/proc", "/proc");
    if (machine) link(data + "/linux/" + machine + "/sys/devices", "/sys/devices");
    if (table) link(data + "/smbios/" + table, "/sys/firmware/dmi/tables");
    setSystemRoot(dir.c_str());
  }
  ~RecordedRoot() {
    setSystemRoot("/");
    std::filesystem::remove_all(dir, ignored);  // the links, never their targets
  }
  void link(const std::string& target, const std::string& at) {
    std::filesystem::create_directories(std::filesystem::path(dir + at).parent_path(), ignored);
    std::filesystem::create_directory_symlink(target, dir + at, ignored);
  }

  std::string dir;
  std::error_code ignored;
};

}  // namespace ps
