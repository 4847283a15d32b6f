// A temporary system root made of links into the recorded machines and
// firmware tables, set as the platform's root while the object lives.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/windows_api.h"

namespace ps {

class RecordedRoot {
 public:
  // machine: a directory under testdata/linux (or null for none); table: a
  // directory under testdata/smbios (or null).
  RecordedRoot(const char* machine, const char* table) {
    char pattern[] = "/tmp/ps-root-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    namespace fs = std::filesystem;
    const std::string data = PS_TESTDATA_DIR;
    std::error_code ignored;
    if (machine) {
      fs::create_directories(dir_ + "/sys", ignored);
      fs::create_directory_symlink(data + "/linux/" + machine + "/proc", dir_ + "/proc", ignored);
      fs::create_directory_symlink(data + "/linux/" + machine + "/sys/devices", dir_ + "/sys/devices", ignored);
    }
    if (table) {
      fs::create_directories(dir_ + "/sys/firmware/dmi", ignored);
      fs::create_directory_symlink(data + "/smbios/" + table, dir_ + "/sys/firmware/dmi/tables", ignored);
    }
    setSystemRoot(dir_.c_str());
  }

  ~RecordedRoot() {
    setSystemRoot("/");
    std::error_code ignored;
    // Removes the links themselves, never what they point to.
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  RecordedRoot(const RecordedRoot&) = delete;
  RecordedRoot& operator=(const RecordedRoot&) = delete;

  bool ok() const { return !dir_.empty(); }

 private:
  std::string dir_;
};

}  // namespace ps
