// Per-processor facts: the name from proc/cpuinfo, the rated clock and the
// live clock.
#pragma once

#include <string>
#include <vector>

namespace ps {
namespace linuxLayer {

struct _cpuinfoFile {
  struct _block {
    size_t begin;
    size_t end;
    int processor;  // the entry's "processor" number, -1 for blocks without one
  };
  std::string text;
  std::vector<_block> blocks;
};

// Splits cpuinfo text into its blank-line separated entries.
void parseCpuinfo(std::string text, _cpuinfoFile* file);
// Reads and parses <root>/proc/cpuinfo; an unreadable file leaves it empty.
void readCpuinfo(_cpuinfoFile* file);

// The processor's name: "model name" of its entry, or what the architecture
// writes instead; taken from anywhere in the file when its entry lacks one.
bool processorName(const _cpuinfoFile& file, int cpu, std::string* name);

// Where a processor's rated clock came from, in the order they are tried.
enum class _clockSource { cppcNominal, cpufreqMax, nameClock, baseFrequency, guestCpuMhz, none };
const char* clockSourceName(_clockSource source);

struct _ratedClock {
  int mhz;  // -1 when unknown
  _clockSource source;
};

// The processor's rated, non-turbo clock, as Windows keeps it in "~MHz":
// acpi_cppc nominal_freq; cpuinfo_max_freq under the drivers whose maximum
// is the rated clock (less a turbo marker); the clock in the name
// ("@ 2.10GHz"); cpufreq base_frequency; "cpu MHz" in a guest only, where
// it is a fixed rate. Bare-metal "cpu MHz" is the live clock, and
// intel_pstate's maximum the top turbo clock, so neither is used. `name` is
// the name the processor key answers.
_ratedClock ratedClock(const _cpuinfoFile& file, int cpu, const std::string& name);

// The live clock in MHz, -1 when unknown: scaling_cur_freq, else "cpu MHz".
int currentMhz(const _cpuinfoFile& file, int cpu);

}  // namespace linuxLayer
}  // namespace ps
