#include "machine/machine_report.h"

namespace ps {

namespace {

constexpr int reportCapacity = 5000;
constexpr int cellsPerBlock = 10;

struct _reportWriter {
  _fixedString<5000>& report;
  _fixedString<5000> line;

  // The line is composed whole, then copied until the report is full; what
  // does not fit is dropped, and so is every later line.
  void flush() {
    for (int i = 0; i < line.length && report.length < reportCapacity; ++i)
      report.text[report.length++] = line.text[i];
    report.text[report.length] = 0;
  }

  void text(const char* label, const char* value = nullptr) {
    line.clear();
    line.append(label);
    line.append(value);
    line.append("\n");
    flush();
  }

  template <int M>
  void text(const char* label, const _fixedString<M>& value) {
    line.clear();
    line.append(label);
    line.append(value);
    line.append("\n");
    flush();
  }

  // Single values print as 32-bit numbers, so -1 shows as "-1".
  void number(const char* label, int64_t value) {
    line.clear();
    line.append(label);
    line.appendNumber((int32_t)value);
    line.append("\n");
    flush();
  }
};

struct _tableRows {
  _fixedString<250> ht, info, min, max, cur;

  void clear() {
    ht.clear();
    info.clear();
    min.clear();
    max.clear();
    cur.clear();
  }

  void write(_reportWriter& out) const {
    out.text("Core HT:       ", ht);
    out.text("Core MHz Info: ", info);
    out.text("Core MHz Min:  ", min);
    out.text("Core MHz Max:  ", max);
    out.text("Core MHz Cur:  ", cur);
    out.text("");
  }
};

void writeTable(const _cpuInfo& info, _reportWriter& out) {
  int count = info.coreCount < maxRecordedProcessors ? info.coreCount : maxRecordedProcessors;
  if (count <= 0) return;
  _tableRows rows;
  for (int i = 0; i < count; ++i) {
    rows.ht.appendPadded(info.coreHT[i] ? "true" : "-", 6);
    rows.info.appendNumberPadded(info.coreMhzInfo[i], 6);
    rows.min.appendNumberPadded(info.coreMhzMin[i], 6);
    rows.max.appendNumberPadded(info.coreMhzMax[i], 6);
    rows.cur.appendNumberPadded(info.coreMhzCur[i], 10);
    if (i % cellsPerBlock == cellsPerBlock - 1) {
      rows.write(out);
      rows.clear();
    }
  }
  // Counted over the processors shown, so a cut at 512 keeps the last block.
  if (count % cellsPerBlock != 0) rows.write(out);
}

}  // namespace

_fixedString<5000>& buildMachineReport(const _cpuInfo& info, _fixedString<5000>& report) {
  report.clear();
  _reportWriter out{report, {}};
  if (info.errorText.isNotEmpty()) {
    out.text("------------------------------");
    out.text("ERRORS:");
    out.text("", info.errorText);
    out.text("------------------------------");
    out.text("");
  }
  out.text("CPU Description:     ", info.cpuDescription);
  out.text("CPU:                 ", info.cpuName);
  out.number("CPU Core Count:      ", info.coreCount);
  out.number("CPU Core Count (HW): ", info.coreCountHW);
  out.text(info.hyperthreading ? "CPU Hyperthreading:  Enabled" : "CPU Hyperthreading:  Disabled");
  out.number("CPU MHz in label: ", info.mhzLabel);
  out.number("CPU MHz Info:     ", info.mhzInfo);
  out.number("CPU MHz Max:      ", info.mhzMax);
  out.number("CPU MHz Current:  ", info.mhzCurrent);
  out.number("CPU MHz summed (calculated, HT adjusted):  ", info.mhzSummed);
  writeTable(info, out);
  out.number("CPU MHz summed (calculated per Core, HT adjusted): ", info.mhzSummedPerCore);
  out.number("CPU MHz summed (measured current, HT adjusted):    ", info.mhzSummedMeasured);
  out.text("");
  out.text("NOTE: Tessel reads the information provided by the OS or BIOS.");
  out.text(
      "Not all information is available on every OS. And not all GHz information provided by the system "
      "is reliable.");
  out.text("");
  return report;
}

}  // namespace ps
