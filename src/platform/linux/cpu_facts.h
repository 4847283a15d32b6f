// Per-processor facts: the name from proc/cpuinfo and the clocks from
// cpufreq, falling back to what cpuinfo says.
#pragma once

#include <string>
#include <vector>

namespace ps {
namespace linuxLayer {

struct cpuinfoFile {
  struct block {
    size_t begin;
    size_t end;
    int processor;  // the entry's "processor" number, -1 for blocks without one
  };
  std::string text;
  std::vector<block> blocks;
};

// Splits cpuinfo text into its blank-line separated entries.
void parseCpuinfo(std::string text, cpuinfoFile* file);
// Reads and parses <root>/proc/cpuinfo; an unreadable file leaves it empty.
void readCpuinfo(cpuinfoFile* file);

// The processor's name: "model name" of its entry, or what the architecture
// writes instead; taken from anywhere in the file when its entry lacks one.
bool processorName(const cpuinfoFile& file, int cpu, std::string* name);

// Clocks in MHz, -1 when unknown. Nominal: cpufreq base_frequency, else
// cpuinfo_max_freq, else the entry's "cpu MHz". Current: scaling_cur_freq,
// else "cpu MHz".
int nominalMhz(const cpuinfoFile& file, int cpu);
int currentMhz(const cpuinfoFile& file, int cpu);

}  // namespace linuxLayer
}  // namespace ps
