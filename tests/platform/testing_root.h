// What the platform tests share: running the layer against recorded or
// hand-made system trees, and reading the processor keys as a caller does.
#pragma once

#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows_api.h"

namespace ps {
namespace platformTesting {

inline std::string machineRoot(const std::string& machine) { return std::string(PS_TESTDATA_DIR) + "/linux/" + machine; }
inline std::string smbiosDir(const std::string& table) { return std::string(PS_TESTDATA_DIR) + "/smbios/" + table; }
inline std::u16string wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }
inline std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Points the layer at a tree for the lifetime of the object.
struct scopedRoot {
  explicit scopedRoot(const std::string& dir) { setSystemRoot(dir.c_str()); }
  ~scopedRoot() { setSystemRoot(nullptr); }
};

// Paths relative to a root and their content; a path ending in '/' is a directory.
using treeFiles = std::vector<std::pair<std::string, std::string>>;

// A temporary directory tree, removed when the object goes.
class tempTree {
 public:
  explicit tempTree(const treeFiles& files = {}) {
    char pattern[] = "/tmp/ps-platform-XXXXXX";
    root_ = mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
    write(files);
  }
  ~tempTree() {
    nftw(root_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
         FTW_DEPTH | FTW_PHYS);
  }
  const std::string& root() const { return root_; }

  void write(const treeFiles& files) const {
    for (const auto& f : files) {
      const std::string path = makeParents(f.first);
      if (f.first.back() == '/') continue;
      FILE* file = std::fopen(path.c_str(), "wb");
      ASSERT_NE(file, nullptr) << f.first;
      std::fwrite(f.second.data(), 1, f.second.size(), file);
      std::fclose(file);
    }
  }
  void link(const std::string& relative, const std::string& target) const {
    ASSERT_EQ(::symlink(target.c_str(), makeParents(relative).c_str()), 0) << relative;
  }

 private:
  // Creates the directories above `relative` and returns its full path.
  std::string makeParents(const std::string& relative) const {
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
      ::mkdir((root_ + "/" + relative.substr(0, slash)).c_str(), 0755);
    return root_ + "/" + relative;
  }
  std::string root_;
};

// ProcessorNameString and ~MHz of processor key n: "<no key>" and -2 without
// the key, "<absent>" and -1 without the value, "<bad>" and -3 for anything
// that is not a well-formed value of its type.
inline std::pair<std::u16string, long> processorKeyValues(int number) {
  HKEY key = nullptr;
  const std::u16string path = wide("Hardware\\Description\\System\\CentralProcessor\\" + std::to_string(number));
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return {u"<no key>", -2};
  char16_t text[256];
  DWORD type = 0, size = sizeof(text), mhz = 0, mhzSize = sizeof(mhz);
  LSTATUS status = RegQueryValueExW(key, u"ProcessorNameString", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  std::u16string name = status == ERROR_FILE_NOT_FOUND ? u"<absent>" : u"<bad>";
  if (status == ERROR_SUCCESS && type == REG_SZ && size >= 2 && text[size / 2 - 1] == 0) name.assign(text, size / 2 - 1);
  status = RegQueryValueExW(key, u"~MHz", nullptr, &type, reinterpret_cast<BYTE*>(&mhz), &mhzSize);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  if (status == ERROR_SUCCESS && type == REG_DWORD && mhzSize == 4) return {name, static_cast<long>(mhz)};
  return {name, status == ERROR_FILE_NOT_FOUND ? -1 : -3};
}

}  // namespace platformTesting
}  // namespace ps
