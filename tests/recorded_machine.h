// What the platform and machine tests share: pointing the layer at a
// recorded machine, a recorded firmware table or a hand-made tree, and
// reading the processor keys as a caller does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/windows_api.h"

namespace ps {
namespace testSupport {

inline std::string machineRoot(const std::string& machine) { return std::string(PS_TESTDATA_DIR) + "/linux/" + machine; }
inline std::string smbiosDir(const std::string& table) { return std::string(PS_TESTDATA_DIR) + "/smbios/" + table; }
inline std::basic_string<wideChar> wide(const std::string& text) { return {text.begin(), text.end()}; }
inline size_t count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}
inline std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct _scopedRoot {
  explicit _scopedRoot(const std::string& dir) { setSystemRoot(dir.c_str()); }
  ~_scopedRoot() { setSystemRoot(nullptr); }
};

// Paths relative to a root and their content; a path ending in '/' is a directory.
using _treeFiles = std::vector<std::pair<std::string, std::string>>;

// A data file's cases: "== field | field ..." opens one (fields trimmed, the empty ones too),
// and each "path = content" line below it adds a file to its tree ("path" alone: an empty file,
// "path/" a directory).
// Contents take \n, \t, \\ and \xNN escapes; '#' starts a comment line.
struct _dataCase {
  std::vector<std::string> fields;
  _treeFiles files;
};
inline std::string unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] == '\\' && i + 1 < text.size() ? text[++i] : 0;
    if (c == 'x') out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2;
    else out += c == 0 ? text[i] : c == 'n' ? '\n' : c == 't' ? '\t' : c;
  }
  return out;
}
// The numbers of a field, blank-separated.
inline std::vector<int64_t> numbers(const std::string& text) {
  std::istringstream in(text);
  std::vector<int64_t> out;
  for (int64_t n; in >> n;) out.push_back(n);
  return out;
}
inline std::vector<_dataCase> dataCases(const std::string& name) {
  std::vector<_dataCase> cases;
  std::istringstream file(fileBytes(std::string(PS_TESTS_DIR) + "/" + name));
  for (std::string line; std::getline(file, line);) {
    const size_t is = line.find(" = ");
    if (line.rfind("==", 0) == 0) {
      std::istringstream cells(line.substr(2) + "|");
      cases.emplace_back();
      for (std::string cell; std::getline(cells, cell, '|');) {
        cell.erase(0, cell.find_first_not_of(' '));
        cases.back().fields.push_back(cell.erase(cell.find_last_not_of(' ') + 1));
      }
    } else if (!cases.empty() && !line.empty() && line[0] != '#') {
      cases.back().files.push_back({line.substr(0, is), is == std::string::npos ? "" : unescaped(line.substr(is + 3))});
    }
  }
  return cases;
}

// A temporary directory tree, removed (links, never their targets) when the object goes.
class _tempTree {
 public:
  explicit _tempTree(const _treeFiles& files = {}) {
    char pattern[] = "/tmp/ps-tree-XXXXXX";
    root_ = mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
    write(files);
  }
  ~_tempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  const std::string& root() const { return root_; }

  void write(const _treeFiles& files) const {
    for (const auto& [relative, content] : files) {
      const std::string path = makeParents(relative);
      if (relative.back() != '/') {
        ASSERT_TRUE(std::ofstream(path, std::ios::binary) << content) << relative;
      }
    }
  }
  void link(const std::string& relative, const std::string& target) const {
    std::error_code error;
    std::filesystem::create_symlink(target, makeParents(relative), error);
    ASSERT_FALSE(error) << relative;
  }

 private:
  std::string makeParents(const std::string& relative) const {
    const std::string path = root_ + "/" + relative;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    return path;
  }
  std::string root_;
};

// A recorded machine (under testdata/linux) and a recorded firmware table
// (under testdata/smbios), either may be null, joined in one root that the
// layer reads while the object lives.
class _recordedRoot {
 public:
  _recordedRoot(const char* machine, const char* table) {
    std::error_code ignored;
    if (machine != nullptr)
      for (const auto& entry : std::filesystem::directory_iterator(machineRoot(machine), ignored)) {
        const std::string name = entry.path().filename().string();
        if (name != "sys") tree_.link(name, entry.path().string());
        for (const auto& sys : std::filesystem::directory_iterator(entry.path(), ignored))
          if (name == "sys") tree_.link("sys/" + sys.path().filename().string(), sys.path().string());
      }
    if (table != nullptr) tree_.link("sys/firmware/dmi/tables", smbiosDir(table));
    setSystemRoot(tree_.root().c_str());
  }
  ~_recordedRoot() { setSystemRoot(nullptr); }

 private:
  _tempTree tree_;
};

// ProcessorNameString and ~MHz of processor key n: "<no key>" and -2 without
// the key, "<absent>" and -1 without the value, "<bad>" and -3 for anything
// that is not a well-formed value of its type.
inline std::pair<std::u16string, long> processorKeyValues(int number) {
  HKEY key = nullptr;
  const auto path = wide("Hardware\\Description\\System\\CentralProcessor\\" + std::to_string(number));
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return {u"<no key>", -2};
  wideChar text[256];
  DWORD type = 0, size = sizeof(text), mhz = 0, mhzSize = sizeof(mhz);
  LSTATUS status =
      RegQueryValueExW(key, wide("ProcessorNameString").c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  std::u16string name = status == ERROR_FILE_NOT_FOUND ? u"<absent>" : u"<bad>";
  if (status == ERROR_SUCCESS && type == REG_SZ && size >= 2 && text[size / 2 - 1] == 0)
    name.assign(text, text + size / 2 - 1);
  status = RegQueryValueExW(key, wide("~MHz").c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&mhz), &mhzSize);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  if (status == ERROR_SUCCESS && type == REG_DWORD && mhzSize == 4) return {name, static_cast<long>(mhz)};
  return {name, status == ERROR_FILE_NOT_FOUND ? -1 : -3};
}

}  // namespace testSupport
}  // namespace ps
