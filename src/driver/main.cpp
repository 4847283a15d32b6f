// DirUrarovavu: measures the processors and prints the score in PS.
#include <QCoreApplication>
#include <QOperatingSystemVersion>
#include <QString>
#include <QSysInfo>
#include <clocale>
#include <cstdio>

#include "base/clocks.h"
#include "driver/command_line.h"
#include "driver/filler.h"
#include "driver/processor_count.h"
#include "driver/test_run.h"
#include "platform/windows_api.h"

#ifdef _WIN32
static const char* const platformName = "WIN";
#else
static const char* const platformName = "LINUX";
#endif

using namespace ps;

// The header's system name as Qt gives it ("windows10", "debian12"). Qt 5.15's
// list of Windows Server releases ends at 2022, so it names Server 2025 (build
// 26100 on, as Windows tells them apart) that too.
static QString operatingSystemName() {
  QString version = QSysInfo::productVersion();
#ifdef _WIN32
  const QString lastServerQtKnows = QStringLiteral("server2022");
  if (version.startsWith(lastServerQtKnows) && QOperatingSystemVersion::current().microVersion() >= 26100)
    version.replace(0, lastServerQtKnows.size(), QStringLiteral("server2025"));
#endif
  return QSysInfo::productType() + version;
}

static void printTimeOfDay() {
  _wallClock now;
  _fixedString<50> text;
  printf("%s\n", now.timeOfDayString(text).text);
}

int main(int argc, char** argv) {
  PROCESS_POWER_THROTTLING_STATE throttling = {PROCESS_POWER_THROTTLING_CURRENT_VERSION,
                                               PROCESS_POWER_THROTTLING_EXECUTION_SPEED, 0};
  SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &throttling, sizeof(throttling));

  // Each line leaves as it is written, also into a pipe or a file: a farm manager's
  // log follows the run, and a run killed by a time-out keeps what it printed.
  // Unbuffered rather than line-buffered: Windows' runtime buffers whole blocks
  // for _IOLBF. A printf still makes one write per call.
  setvbuf(stdout, nullptr, _IONBF, 0);

  QCoreApplication application(argc, argv);
  // On Linux the application object sets the C library's locale from the
  // environment; farm tools parse this output, so numbers keep their points
  // and only a-z change case, whatever the node's locale.
  setlocale(LC_ALL, "C");
  int processorCount = getLogicalProcessorCount();
  if (processorCount < 1) processorCount = 1;
  QString osName = operatingSystemName();

  printTimeOfDay();
  printf("SpecificOperSys: %s\n", osName.toStdString().c_str());
  printf("NumberOfThreads: %d\n", processorCount);
  ULONGLONG memoryKb = 0;
  // KiB to whole GiB.
  if (GetPhysicallyInstalledSystemMemory(&memoryKb)) printf("RAM installed: %d", (int)(memoryKb >> 20));
  printf("\n");
  printf("OperatingSystem: %s\n", platformName);

  _commandLine line;
  readCommandLine(argc, argv, line);
  if (line.loremIpsum) printLoremIpsum();
  if (line.blenderLog) printBlenderLog();
  if (line.houdiniLog) printHoudiniLog();

  _tickTimer stopwatch;
  stopwatch.start();
  _testChoice choice;
  if (!chooseTest(line.testName, choice)) {
    printUsage();
    return 0;
  }

  QString message;
  float score = runChosenTest(choice, message);
  int elapsedMs = stopwatch.elapsedMs();

  printf("%s\n", message.toLatin1().constData());
  int exitCode = reportExitCode(line, score);
  printf("\n");
  printf("Time_Exec: %d sec\n", elapsedMs / 1000);
  printf("Core*Time: %d\n", coreTime(elapsedMs, processorCount));
  printTimeOfDay();

  fflush(stdout);
  fflush(stderr);
  return exitCode;
}
