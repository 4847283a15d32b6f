// Runs the built program as a farm tool would and matches its output, line by line, with the patterns of
// expected.txt; the code here checks only how the numbers relate. PS_PROGRAM, PS_PROBE and PS_SYSTEM=WIN run
// another build's program and machine probe instead: the Windows build under Wine.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string setting(const char* name, const char* fallback) { return getenv(name) ? getenv(name) : fallback; }
const std::string program = setting("PS_PROGRAM", PS_BINARY), probe = setting("PS_PROBE", PS_LINUX_PROBE);
const bool windows = setting("PS_SYSTEM", "LINUX") == "WIN";
const char* const commaLocale = "de_DE.UTF-8";

struct _run {
  std::string output;  // with LF line ends
  int status;
  std::vector<std::string> lines;  // without the verbose poll's leading dots
};
using _captures = std::map<std::string, std::vector<std::string>>;

std::string readAll(FILE* pipe) {
  std::string text;
  char chunk[65536];
  for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  return text;
}

// Windows programs end every line with CRLF, as the C runtime writes text to a pipe; Linux ones with LF.
_run run(const std::string& command, bool crlf = windows) {
  FILE* pipe = popen(command.c_str(), "r");
  const std::string raw = readAll(pipe);
  const int status = pipe ? pclose(pipe) : -1;
  _run r{std::regex_replace(raw, std::regex("\r\n"), "\n"), WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}};
  EXPECT_EQ(raw.size(), r.output.size() + (crlf ? std::count(r.output.begin(), r.output.end(), '\n') : 0)) << command;
  EXPECT_EQ(r.output.find('\r'), std::string::npos) << command;
  std::string line;
  for (std::istringstream in(r.output + "\n"); std::getline(in, line);) r.lines.push_back(line.erase(0, line.find_first_not_of('.')));
  return r;
}

const _run& probeRun(const std::string& command, bool crlf) {
  static std::map<std::string, _run> runs;
  if (runs.count(command) == 0) runs[command] = run(command, crlf);
  return runs[command];
}

// The patterns of each section of expected.txt that hold for this system.
std::map<std::string, std::vector<std::string>> readSections() {
  std::map<std::string, std::vector<std::string>> sections;
  std::ifstream file(PS_TESTS_DIR "/e2e/expected.txt");
  std::string line, name;
  while (std::getline(file, line))
    if (!line.empty() && line[0] == '[') name = line.substr(1, line.size() - 2);
    else if (!line.empty() && line[0] != '#' && line.substr(0, line.find(' ')).find(windows ? 'L' : 'W') == std::string::npos)
      sections[name].push_back(line);
  return sections;
}

// Matches the run's lines from line *at on with the sections' patterns in turn, adding what they capture.
void match(const _run& r, const std::vector<std::string>& names, size_t* at, _captures* found) {
  static const auto sections = readSections();
  const std::regex named("\\{([a-zA-Z]\\w*):([^}]*)\\}");
  for (const std::string& name : names)
    for (const std::string& line : sections.at(name)) {
      const std::string op = line.substr(0, line.find(' ')), text = line.substr(std::min(line.size(), op.size() + 1));
      const std::string full = std::regex_replace(text, std::regex("\\{([a-zA-Z]\\w*)\\}"), "{$1:-?[0-9]+(?:\\.[0-9]+)?}");
      std::vector<std::string> fields;
      for (std::sregex_iterator it(full.begin(), full.end(), named), end; it != end; ++it) fields.push_back((*it)[1]);
      const std::regex pattern(std::regex_replace(full, named, "($2)"));
      const auto take = [&](const std::string& l) {
        std::smatch m;
        if (!std::regex_match(l, m, pattern)) return false;
        for (size_t i = 0; i < fields.size(); ++i) (*found)[fields[i]].push_back(m[i + 1]);
        return true;
      };
      if (isdigit(op[0])) {
        EXPECT_EQ((size_t)std::count_if(r.lines.begin(), r.lines.end(), take), std::stoul(op)) << text;
        continue;
      }
      while (op[0] == '>' && *at < r.lines.size() && !std::regex_match(r.lines[*at], pattern)) ++*at;
      size_t taken = 0;
      while (*at < r.lines.size() && (taken == 0 || op[0] == '+') && take(r.lines[*at])) ++*at, ++taken;
      if (taken == 0) {
        ADD_FAILURE() << "line " << *at + 1 << " is no \"" << text << "\" in\n" << r.output;
        return;
      }
      // Windows keeps the spaces that pad some brand strings, and so does the Linux layer; Wine drops them.
      const auto same = [](std::string a, std::string b) {
        if (windows) a.erase(a.find_last_not_of(' ') + 1), b.erase(b.find_last_not_of(' ') + 1);
        return a == b;
      };
      const _run& linux = probeRun(PS_LINUX_PROBE, false);
      EXPECT_TRUE(op.find('r') == std::string::npos ||
                  std::any_of(linux.lines.begin(), linux.lines.end(), [&](const std::string& l) { return same(l, r.lines[*at - 1]); }))
          << r.lines[*at - 1] << " is not in the Linux machine report:\n" << linux.output;
    }
}

// A number printed with printf's "%5.3f", checked by printing it again.
double score(const std::string& text) {
  char printed[64];
  snprintf(printed, sizeof printed, "%5.3f", atof(text.c_str()));
  EXPECT_EQ(text, printed);
  return atof(text.c_str());
}

int integer(const std::string& text) {
  EXPECT_EQ(std::to_string(atoi(text.c_str())), text);
  return atoi(text.c_str());
}

double milliseconds(const std::string& text) { return atof(std::regex_replace(text, std::regex(" "), "").c_str()); }

// How a run's numbers relate: each worker's score to its time, the sums, the result scaled by factor, the exit
// code and the process status, the test's time, and the RAM line to the same system's installed-memory answer.
void checkNumbers(const _run& r, _captures& c, double factor, int divider) {
  const int threads = integer(c["threads"].at(0));
  EXPECT_EQ(c["worker"].size(), (size_t)threads);
  double total = 0;
  for (size_t i = 0; i < c["worker"].size(); ++i) {
    EXPECT_EQ(integer(c["worker"][i]), (int)i);
    const double worker = score(c["score"][i]);
    EXPECT_NEAR(worker, 4333.0 * integer(c["loops"][i]) / milliseconds(c["ms"][i]), 0.0005 + 1e-9 * worker);
    total += worker;
  }
  const double totalSpeed = score(c["total"].at(0)), result = score(c["result"].at(0));
  EXPECT_NEAR(totalSpeed, std::max(total, 2.0), 0.0005 * threads + 1e-6);
  EXPECT_NEAR(score(c["average"].at(0)), totalSpeed / threads, 0.0005 + 1e-6);
  EXPECT_NEAR(result, totalSpeed * factor, 0.0005 * (factor + 1) + 1e-6);

  // The exit code comes from the score, not its text: x.9996 prints as x+1.000. Windows returns a negative code
  // as it is; Wine hands Linux its low byte, or 1 where that byte is 0. A Linux process returns 0 instead.
  const int code = integer(c["code"].at(0)), lowByte = code & 255;
  const double quotient = result / divider;
  EXPECT_TRUE(code == (int)quotient || (c["result"][0].find(".000") != std::string::npos && code == (int)(quotient - 1.0 / divider)))
      << code << " for " << result << " / " << divider;
  EXPECT_EQ(r.status, code >= 0 ? std::min(code, 255) : !windows ? 0 : lowByte ? lowByte : 1);

  // Core*Time is the test's milliseconds times NumberOfThreads; Time_Exec the same in whole seconds.
  const int processors = integer(c["processors"].at(0)), coreTime = integer(c["coreTime"].at(0));
  EXPECT_EQ(coreTime % processors, 0) << coreTime << " / " << processors;
  EXPECT_EQ(coreTime / processors / 1000, integer(c["seconds"].at(0))) << coreTime << " / " << processors;
  // Wine answers with the memory Linux reports, Windows and the Linux layer with the firmware's installed memory.
  _captures memory;
  size_t at = 0;
  match(probeRun(probe, windows), {"probe"}, &at, &memory);
  const long long kib = std::stoll(memory["kib"].at(0));
  EXPECT_EQ(c["ram"].at(0), kib < 0 ? "" : std::to_string(kib >> 20));
}

// Matches the header; returns its size in bytes.
size_t matchHeader(const _run& r, size_t* at, _captures* c) {
  size_t bytes = 0;
  match(r, {"header"}, at, c);
  for (size_t i = 0; i < *at; ++i) bytes += r.lines[i].size() + 1;
  return bytes;
}

_run runProgram(const std::string& arguments, const std::string& environment = "") {
  return run(environment + program + " " + arguments);
}

// The folder holding the comma-decimal locale, or "" when it cannot be built or its point is no comma.
std::string buildCommaLocale() {
  char folder[] = "/tmp/ps-locale-XXXXXX";
  if (!mkdtemp(folder)) return "";
  const std::string path = folder, env = "LOCPATH=" + path + " LC_ALL=" + commaLocale;
  // localedef may report warnings in its exit status and still build it.
  system(("localedef -i de_DE -f UTF-8 " + path + "/" + commaLocale + " >/dev/null 2>&1").c_str());
  return run(env + " locale decimal_point 2>/dev/null", false).output == ",\n" ? path : "";
}

// The usage text as a farm tool saw it after the header. A filler keyword in first place is no test name; its
// block comes first.
TEST(Program, UnknownTestNamesPrintTheUsageTextAndReturnZero) {
  std::ifstream file(PS_TESTS_DIR "/../tools/farm/tests/data/usage.out");
  std::string usageText((std::istreambuf_iterator<char>(file)), {});
  for (int i = 0; i < 5; ++i) usageText.erase(0, usageText.find('\n') + 1);
  ASSERT_GT(usageText.size(), 500u);
  for (std::string name : {"Singl", "Single5x", "LoremIpsum"}) {
    const _run r = runProgram(name + " exitCodeThreshold 1");
    EXPECT_EQ(r.status, 0) << name;
    _captures c;
    size_t at = 0;
    std::string rest = r.output.substr(std::min(r.output.size(), matchHeader(r, &at, &c)));
    if (name == "LoremIpsum") {
      EXPECT_EQ(rest.substr(0, 13), "\n\nLorem ipsum");
      rest = rest.substr(std::min(rest.size(), (size_t)4680));
    }
    EXPECT_EQ(rest, usageText) << name;
  }
}

// The filler sits between the header and the test, 4,680 + 14,849 + 14,055 bytes.
TEST(Program, SingleSpeedWithExitCodeAndEveryFillerBlock) {
  const _run r = runProgram("singlespeed exitCodeThreshold 1 x_houdinilog_y LoremIpsum BlenderLog");
  _captures c;
  size_t at = 0;
  const size_t header = matchHeader(r, &at, &c);
  EXPECT_EQ(r.output.find("CPU PS Test...\n", header), header + 33584u);
  EXPECT_EQ(r.output.substr(header, 13), "\n\nLorem ipsum");
  EXPECT_EQ(r.output.substr(header + 4680, 6) + r.output.substr(header + 4680 + 14849, 6), "R  8| R  8| ");
  match(r, {"singlespeed", "report", "singlespeed-end", "tail"}, &at, &c);
  EXPECT_EQ(at, r.lines.size());
  // A single-core score counts each logical processor of the report, 0.6 of one with hyperthreading.
  checkNumbers(r, c, integer(c["cores"].at(0)) * (c["ht"].at(0) == "Enabled" ? 0.6 : 1.0), 1);
}

// On every processor and under a comma-decimal locale, where every number keeps its point; a negative divider.
TEST(Program, AllVerboseUnderACommaDecimalLocale) {
  const std::string localePath = buildCommaLocale();
  ASSERT_FALSE(localePath.empty()) << "could not build " << commaLocale << " with localedef (package locales)";
  const _run r = runProgram("AllVerbose exitCodeThreshold -1", "LOCPATH=" + localePath + " LC_ALL=" + commaLocale + " ");
  system(("rm -rf " + localePath).c_str());
  EXPECT_FALSE(std::regex_search(r.output, std::regex("[0-9],[0-9]"))) << r.output;
  _captures c;
  size_t at = 0;
  match(r, {"header", "allverbose", "report", "allverbose-end", "tail"}, &at, &c);
  EXPECT_EQ(at, r.lines.size());
  checkNumbers(r, c, 1.0, -1);
  // The live lines say what the log says.
  EXPECT_EQ(c["tt"].at(0).size(), c["worker"].size());
  EXPECT_EQ(c["liveScore"], c["score"]);
  EXPECT_EQ(score(c["totalTime"].at(0)), milliseconds(c["ms"].at(0)) / 1000.0);
  const std::vector<std::string> live = {c["liveTotal"].at(0), c["liveAverage"].at(0), c["liveResult"].at(0)};
  EXPECT_EQ(live, std::vector<std::string>({c["total"].at(0), c["average"].at(0), c["result"].at(0)}));
}

}  // namespace
