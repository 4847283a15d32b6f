#include "platform/linux/cpu_facts.h"

#include <cstring>
#include <utility>

#include "platform/linux/system_root.h"

namespace ps {
namespace linuxLayer {

namespace {

// Frequencies above 100 GHz are garbage, not clocks.
constexpr unsigned long long kMaxKhz = 100000000ull;
constexpr double kMaxMhz = 100000.0;

// Finds `key` among the "key : value" lines of text[begin, end).
bool findValue(const cpuinfoFile& file, size_t begin, size_t end, const char* key,
               std::string* value) {
  const std::string& text = file.text;
  size_t line = begin;
  while (line < end) {
    size_t lineEnd = text.find('\n', line);
    if (lineEnd == std::string::npos || lineEnd > end) lineEnd = end;
    // Look for the colon within this line only: a long file without colons
    // must not cost a scan to its end per line.
    const void* found = std::memchr(text.data() + line, ':', lineEnd - line);
    const size_t colon = found != nullptr ? static_cast<const char*>(found) - text.data() : lineEnd;
    if (colon < lineEnd && trimmed(text.substr(line, colon - line)) == key) {
      *value = trimmed(text.substr(colon + 1, lineEnd - colon - 1));
      return true;
    }
    line = lineEnd + 1;
  }
  return false;
}

const cpuinfoFile::block* blockOf(const cpuinfoFile& file, int cpu) {
  for (const auto& b : file.blocks)
    if (b.processor == cpu) return &b;
  return nullptr;
}

// "2893.313", "2900.000000MHz": a plain decimal, parsed without the C
// library so that the process locale cannot change the decimal point.
bool parseMhz(const std::string& text, double* mhz) {
  size_t i = 0;
  double value = 0;
  bool digits = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value <= kMaxMhz) {
    value = value * 10 + (text[i++] - '0');
    digits = true;
  }
  if (i < text.size() && text[i] == '.') {
    double scale = 0.1;
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10) {
      value += (text[i] - '0') * scale;
      digits = true;
    }
  }
  const std::string rest = trimmed(text.substr(i));
  if (!digits || !(rest.empty() || rest == "MHz" || rest == "mhz")) return false;
  if (!(value > 0 && value <= kMaxMhz)) return false;
  *mhz = value;
  return true;
}

int cpuinfoMhz(const cpuinfoFile& file, int cpu) {
  const cpuinfoFile::block* own = blockOf(file, cpu);
  if (own == nullptr) return -1;
  std::string value;
  double mhz = 0;
  for (const char* key : {"cpu MHz", "clock"}) {
    if (findValue(file, own->begin, own->end, key, &value) && parseMhz(value, &mhz)) {
      const int rounded = static_cast<int>(mhz + 0.5);
      return rounded > 0 ? rounded : -1;
    }
  }
  return -1;
}

int cpufreqMhz(int cpu, const char* name) {
  const std::string path =
      "sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/" + name;
  unsigned long long khz = 0;
  if (!readUnsignedFile(path.c_str(), kMaxKhz, &khz)) return -1;
  const int mhz = static_cast<int>((khz + 500) / 1000);
  return mhz > 0 ? mhz : -1;
}

}  // namespace

void parseCpuinfo(std::string contents, cpuinfoFile* file) {
  file->text = std::move(contents);
  file->blocks.clear();
  const std::string& text = file->text;
  size_t pos = 0;
  cpuinfoFile::block current{0, 0, -1};
  bool open = false;
  while (pos <= text.size()) {
    size_t lineEnd = text.find('\n', pos);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const bool blank = trimmed(text.substr(pos, lineEnd - pos)).empty();
    if (!blank) {
      if (!open) current = {pos, pos, -1};
      open = true;
      current.end = lineEnd;
    } else if (open) {
      file->blocks.push_back(current);
      open = false;
    }
    if (lineEnd == text.size()) break;
    pos = lineEnd + 1;
  }
  if (open) file->blocks.push_back(current);

  for (auto& b : file->blocks) {
    std::string value;
    unsigned long long number = 0;
    if (findValue(*file, b.begin, b.end, "processor", &value) &&
        parseUnsigned(value, 1u << 20, &number))
      b.processor = static_cast<int>(number);
  }
}

void readCpuinfo(cpuinfoFile* file) {
  std::string text;
  readSystemLines("proc/cpuinfo", kCpuinfoCap, &text);
  parseCpuinfo(std::move(text), file);
}

bool processorName(const cpuinfoFile& file, int cpu, std::string* name) {
  // x86 and newer ARM: "model name"; old ARM: "Processor"; MIPS: "cpu model";
  // PowerPC: "cpu"; RISC-V: "uarch".
  static const char* const kKeys[] = {"model name", "Processor", "cpu model", "cpu", "uarch"};
  std::string value;
  if (const cpuinfoFile::block* own = blockOf(file, cpu)) {
    for (const char* key : kKeys)
      if (findValue(file, own->begin, own->end, key, &value) && !value.empty()) {
        *name = value;
        return true;
      }
  }
  for (const char* key : kKeys)
    for (const auto& b : file.blocks)
      if (findValue(file, b.begin, b.end, key, &value) && !value.empty()) {
        *name = value;
        return true;
      }
  return false;
}

int nominalMhz(const cpuinfoFile& file, int cpu) {
  int mhz = cpufreqMhz(cpu, "base_frequency");
  if (mhz < 0) mhz = cpufreqMhz(cpu, "cpuinfo_max_freq");
  if (mhz < 0) mhz = cpuinfoMhz(file, cpu);
  return mhz;
}

int currentMhz(const cpuinfoFile& file, int cpu) {
  const int mhz = cpufreqMhz(cpu, "scaling_cur_freq");
  return mhz >= 0 ? mhz : cpuinfoMhz(file, cpu);
}

}  // namespace linuxLayer
}  // namespace ps
