#include "platform/linux/usable_cpus.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/linux/system_root.h"

namespace ps {
namespace linuxLayer {

namespace {

bool parseCpuNumber(const std::string& text, size_t* pos, int* value) {
  unsigned long long number = 0;
  if (!parseDigits(text, pos, maxCpuNumber, &number)) return false;
  *value = static_cast<int>(number);
  return true;
}

// Keeps only the CPUs of `narrower`; data that would leave nothing is
// inconsistent (a process always runs somewhere) and is ignored.
void narrowTo(std::vector<int>* cpus, const std::vector<int>& narrower) {
  std::vector<int> both = intersectCpus(*cpus, narrower);
  if (!both.empty()) cpus->swap(both);
}

void collectCpuDirectory(const char* name, void* context) {
  // "cpu" followed by a canonical decimal number only (not cpufreq, cpuidle).
  unsigned long long cpu = 0;
  if (std::strncmp(name, "cpu", 3) != 0 || !parseCanonicalNumber(name + 3, maxCpuNumber, &cpu))
    return;
  static_cast<std::vector<int>*>(context)->push_back(static_cast<int>(cpu));
}

std::vector<int> readOnlineCpus() {
  std::string text;
  std::vector<int> cpus;
  if (readSystemFile("sys/devices/system/cpu/online", smallFileCap, &text) == 0 &&
      parseCpuList(text, &cpus))
    return cpus;

  std::vector<int> found;
  listSystemDirectory("sys/devices/system/cpu", collectCpuDirectory, &found);
  for (const int cpu : found) {
    // cpu0 often has no "online" file: it cannot be taken offline.
    if (readSystemFile(cpuFile(cpu, "online").c_str(), smallFileCap, &text) == 0 && trimmed(text) == "0") continue;
    cpus.push_back(cpu);
  }
  std::sort(cpus.begin(), cpus.end());
  cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
  return cpus;
}

bool readAllowedCpus(std::vector<int>* cpus) {
  std::string status, list;
  return readSystemFile("proc/self/status", smallFileCap, &status) == 0 &&
         lineValue(status, "Cpus_allowed_list:", &list) && parseCpuList(list, cpus);
}

// Mount points in proc/mounts escape blanks and backslashes as \ooo.
std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool hasOption(const std::string& options, const char* wanted) {
  size_t start = 0;
  while (start <= options.size()) {
    size_t end = options.find(',', start);
    if (end == std::string::npos) end = options.size();
    if (options.compare(start, end - start, wanted) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool tryCpusetFile(const std::string& path, std::vector<int>* cpus) {
  std::string text;
  return readSystemFile(path.c_str(), smallFileCap, &text) == 0 && parseCpuList(text, cpus);
}

// The effective CPUs of the process's cpuset cgroup (v1 or v2), found through
// proc/self/cpuset and the mount table. The kernel already keeps the affinity
// inside it; this matters where proc/self/status is not there to say so.
bool readCgroupCpus(std::vector<int>* cpus) {
  std::string cgroup;
  if (readSystemFile("proc/self/cpuset", smallFileCap, &cgroup) != 0) return false;
  cgroup = trimmed(cgroup);
  if (cgroup.empty() || cgroup[0] != '/' || cgroup.find("/..") != std::string::npos) return false;
  if (cgroup == "/") cgroup.clear();

  std::string mounts;
  if (readSystemLines("proc/mounts", cpuinfoCap, &mounts) != 0) return false;
  size_t line = 0;
  while (line < mounts.size()) {
    size_t end = mounts.find('\n', line);
    if (end == std::string::npos) end = mounts.size();
    // device, mount point, type, options
    std::string fields[4];
    size_t count = 0;
    for (size_t at = line; count < 4;) {
      at = mounts.find_first_not_of(" \t", at);
      if (at >= end) break;
      size_t fieldEnd = mounts.find_first_of(" \t\n", at);
      if (fieldEnd > end) fieldEnd = end;
      fields[count++] = mounts.substr(at, fieldEnd - at);
      at = fieldEnd;
    }
    line = end + 1;
    if (count < 4) continue;
    const std::string base = unescapeMountField(fields[1]) + cgroup;
    if (base.find("/..") != std::string::npos) continue;
    if (fields[2] == "cgroup2") {
      if (tryCpusetFile(base + "/cpuset.cpus.effective", cpus)) return true;
    } else if (fields[2] == "cgroup" && hasOption(fields[3], "cpuset")) {
      if (tryCpusetFile(base + "/cpuset.effective_cpus", cpus)) return true;
      if (tryCpusetFile(base + "/cpuset.cpus", cpus)) return true;
    }
  }
  return false;
}

}  // namespace

bool parseCpuList(const std::string& text, std::vector<int>* cpus) {
  const std::string list = trimmed(text);
  if (list.empty()) return false;
  // Marks rather than a list of every range: overlapping ranges in a garbage
  // file cannot make it grow without bound, and the result comes out sorted.
  std::vector<bool> listed(maxCpuNumber + 1, false);
  size_t pos = 0;
  for (;;) {
    int first = 0;
    if (!parseCpuNumber(list, &pos, &first)) return false;
    int last = first;
    if (pos < list.size() && list[pos] == '-') {
      ++pos;
      if (!parseCpuNumber(list, &pos, &last) || last < first) return false;
    }
    for (int cpu = first; cpu <= last; ++cpu) listed[cpu] = true;
    if (pos == list.size()) break;
    if (list[pos] != ',') return false;
    ++pos;
  }
  cpus->clear();
  for (int cpu = 0; cpu <= maxCpuNumber; ++cpu)
    if (listed[cpu]) cpus->push_back(cpu);
  return true;
}

std::vector<int> intersectCpus(const std::vector<int>& a, const std::vector<int>& b) {
  std::vector<int> both;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
  return both;
}

std::vector<int> readUsableCpus() {
  std::vector<int> cpus = readOnlineCpus();
  if (cpus.empty() && isRealRoot()) {
    // No sysfs (some containers): the C library's count is all there is.
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    for (long cpu = 0; cpu < online && cpu <= maxCpuNumber; ++cpu) cpus.push_back(static_cast<int>(cpu));
  }
  std::vector<int> narrower;
  if (readAllowedCpus(&narrower)) narrowTo(&cpus, narrower);
  if (readCgroupCpus(&narrower)) narrowTo(&cpus, narrower);
  return cpus;
}

}  // namespace linuxLayer
}  // namespace ps
