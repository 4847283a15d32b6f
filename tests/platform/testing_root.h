// Helpers for running the platform layer against recorded or hand-made
// system trees.
#pragma once

#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace platformTesting {

inline std::string machineRoot(const std::string& machine) {
  return std::string(PS_TESTDATA_DIR) + "/linux/" + machine;
}
inline std::string smbiosDir(const std::string& table) {
  return std::string(PS_TESTDATA_DIR) + "/smbios/" + table;
}
inline std::u16string wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Points the layer at a tree for the lifetime of the object.
struct scopedRoot {
  explicit scopedRoot(const std::string& dir) { setSystemRoot(dir.c_str()); }
  ~scopedRoot() { setSystemRoot(nullptr); }
};

// A temporary directory tree, removed when the object goes.
class tempTree {
 public:
  tempTree() {
    char pattern[] = "/tmp/ps-platform-XXXXXX";
    root_ = mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
  }
  ~tempTree() {
    nftw(root_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
         FTW_DEPTH | FTW_PHYS);
  }
  const std::string& root() const { return root_; }

  // Creates the directories of `relative` and returns its full path.
  std::string makeDirs(const std::string& relative) const {
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
      ::mkdir((root_ + "/" + relative.substr(0, slash)).c_str(), 0755);
    ::mkdir((root_ + "/" + relative).c_str(), 0755);
    return root_ + "/" + relative;
  }
  void write(const std::string& relative, const std::string& content) const {
    const std::string dir = makeDirs(relative);
    ::rmdir(dir.c_str());
    FILE* file = std::fopen(dir.c_str(), "wb");
    ASSERT_NE(file, nullptr) << relative;
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  void link(const std::string& relative, const std::string& target) const {
    const std::string dir = makeDirs(relative);
    ::rmdir(dir.c_str());
    ASSERT_EQ(::symlink(target.c_str(), dir.c_str()), 0) << relative;
  }

 private:
  std::string root_;
};

inline LSTATUS openProcessorKey(int number, HKEY* key) {
  const std::u16string path = wide("Hardware\\Description\\System\\CentralProcessor\\" + std::to_string(number));
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key);
}

}  // namespace platformTesting
}  // namespace ps
