#include "platform/linux/cpu_facts.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/name_clock.h"
#include "platform/linux/system_root.h"

namespace ps {
namespace linuxLayer {

namespace {

// Frequencies above 100 GHz are garbage, not clocks.
constexpr unsigned long long maxKhz = 100000000ull;
constexpr double maxMhz = 100000.0;

// Finds `key` among the "key : value" lines of text[begin, end).
bool findValue(const _cpuinfoFile& file, size_t begin, size_t end, const char* key,
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

const _cpuinfoFile::_block* blockOf(const _cpuinfoFile& file, int cpu) {
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
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value <= maxMhz) {
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
  if (!(value > 0 && value <= maxMhz)) return false;
  *mhz = value;
  return true;
}

int cpuinfoMhz(const _cpuinfoFile& file, int cpu) {
  const _cpuinfoFile::_block* own = blockOf(file, cpu);
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

int cpufreqMhz(int cpu, const char* file) {
  unsigned long long khz = 0;
  if (!readUnsignedFile(cpuFile(cpu, file).c_str(), maxKhz, &khz)) return -1;
  const int mhz = static_cast<int>((khz + 500) / 1000);
  return mhz > 0 ? mhz : -1;
}

}  // namespace

void parseCpuinfo(std::string contents, _cpuinfoFile* file) {
  file->text = std::move(contents);
  file->blocks.clear();
  const std::string& text = file->text;
  size_t pos = 0;
  _cpuinfoFile::_block current{0, 0, -1};
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

void readCpuinfo(_cpuinfoFile* file) {
  std::string text;
  readSystemLines("proc/cpuinfo", cpuinfoCap, &text);
  parseCpuinfo(std::move(text), file);
}

bool processorName(const _cpuinfoFile& file, int cpu, std::string* name) {
  // x86 and newer ARM: "model name"; old ARM: "Processor"; MIPS: "cpu model";
  // PowerPC: "cpu"; RISC-V: "uarch".
  static const char* const nameKeys[] = {"model name", "Processor", "cpu model", "cpu", "uarch"};
  std::string value;
  if (const _cpuinfoFile::_block* own = blockOf(file, cpu)) {
    for (const char* key : nameKeys)
      if (findValue(file, own->begin, own->end, key, &value) && !value.empty()) {
        *name = value;
        return true;
      }
  }
  for (const char* key : nameKeys)
    for (const auto& b : file.blocks)
      if (findValue(file, b.begin, b.end, key, &value) && !value.empty()) {
        *name = value;
        return true;
      }
  return false;
}

const char* clockSourceName(_clockSource source) {
  switch (source) {
    case _clockSource::cppcNominal:
      return "acpi_cppc nominal_freq";
    case _clockSource::cpufreqMax:
      return "cpuinfo_max_freq";
    case _clockSource::nameClock:
      return "name";
    case _clockSource::baseFrequency:
      return "base_frequency";
    case _clockSource::guestCpuMhz:
      return "cpu MHz (guest)";
    case _clockSource::none:
      break;
  }
  return "none";
}

_ratedClock ratedClock(const _cpuinfoFile& file, int cpu, const std::string& name) {
  unsigned long long nominal = 0;
  if (readUnsignedFile(cpuFile(cpu, "acpi_cppc/nominal_freq").c_str(), static_cast<unsigned long long>(maxMhz),
                       &nominal) &&
      nominal > 0)
    return {static_cast<int>(nominal), _clockSource::cppcNominal};

  std::string driver;
  readSystemFile(cpuFile(cpu, "cpufreq/scaling_driver").c_str(), smallFileCap, &driver);
  driver = trimmed(driver);
  int mhz = driver == "acpi-cpufreq" || driver == "powernow-k8" ? cpufreqMhz(cpu, "cpufreq/cpuinfo_max_freq") : -1;
  if (mhz > 0) {
    // A top step exactly 1 MHz above the next stands for turbo.
    std::string text;
    std::vector<unsigned long long> steps;
    if (readSystemFile(cpuFile(cpu, "cpufreq/scaling_available_frequencies").c_str(), smallFileCap, &text) == 0) {
      size_t pos = 0;
      unsigned long long khz = 0;
      for (;;) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\n')) ++pos;
        if (!parseDigits(text, &pos, maxKhz, &khz)) break;
        steps.push_back(khz);
      }
    }
    std::sort(steps.rbegin(), steps.rend());
    if (steps.size() >= 2 && steps[0] == steps[1] + 1000) mhz = static_cast<int>((steps[1] + 500) / 1000);
    return {mhz, _clockSource::cpufreqMax};
  }

  // The clock in the name, read as the name analysis reads it.
  float nameMhz = 0.0f;
  if (clockAfterAt(_fixedString<250>().assign(name.c_str()), _nameClockUnit::gigahertzOnly, &nameMhz) &&
      nameMhz >= 1.0f && nameMhz <= static_cast<float>(maxMhz))
    return {static_cast<int>(nameMhz), _clockSource::nameClock};
  if ((mhz = cpufreqMhz(cpu, "cpufreq/base_frequency")) > 0) return {mhz, _clockSource::baseFrequency};

  std::string flags;
  const _cpuinfoFile::_block* own = blockOf(file, cpu);
  if (own != nullptr && findValue(file, own->begin, own->end, "flags", &flags) &&
      (" " + flags + " ").find(" hypervisor ") != std::string::npos && (mhz = cpuinfoMhz(file, cpu)) > 0)
    return {mhz, _clockSource::guestCpuMhz};
  return {-1, _clockSource::none};
}

int currentMhz(const _cpuinfoFile& file, int cpu) {
  const int mhz = cpufreqMhz(cpu, "cpufreq/scaling_cur_freq");
  return mhz >= 0 ? mhz : cpuinfoMhz(file, cpu);
}

}  // namespace linuxLayer
}  // namespace ps
