// The foundation against the real Windows API, run under Wine: error texts
// built from FormatMessageA's own answers, the tick timer on GetTickCount and
// Sleep, the time of day against the runtime's _localtime64_s.
#include <gtest/gtest.h>

#include <string>

#include "base/clocks.h"
#include "base/error_text.h"
#include "base/system_text.h"
#include "platform/windows_api.h"

namespace ps {
namespace {

// The system's message as asked for here, its line end dropped; "" for none.
std::string lookedUp(DWORD flags, const void* source, DWORD code) {
  char buffer[500] = {};
  DWORD n = FormatMessageA(flags, source, code, 0x400, buffer, sizeof(buffer), nullptr);
  std::string text(buffer, n < sizeof(buffer) ? n : 0);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Wine's texts are shorter than Windows' ("File not found."); either way the
// line is "Error N: " and the system's message with one more full stop.
TEST(WindowsErrorText, SystemMessagesAsTheSystemWordsThem) {
  for (DWORD code : {2u, 5u, 87u, 122u, 234u, 1168u}) {
    const std::string message = lookedUp(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    ASSERT_FALSE(message.empty()) << code;
    EXPECT_EQ("Error " + std::to_string(code) + ": " + message + ".", systemText(code));
  }
  EXPECT_EQ("No Error.", systemText(0));  // fixed texts whatever the system says
  EXPECT_EQ("A DLL is missing.", systemText(126));
  EXPECT_EQ(0u, std::string(systemText(1346)).find("Either a required impersonation level"));

  SetLastError(5);
  EXPECT_EQ("Error 5: " + lookedUp(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5) + ".", systemText(0xFFFFFFFFu));
  // No system message (ERROR_MR_MID_NOT_FOUND): the exception table or the code.
  EXPECT_EQ("", lookedUp(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xE0000001));
  EXPECT_EQ(317u, GetLastError());
  EXPECT_EQ("ERROR code -536870911. (No system message found)", systemText(0xE0000001));
  EXPECT_EQ(0u, systemText(0xC0000005).find("EXCEPTION: The thread tried to read from or write to"));
  // Status codes outside the table: ntdll's text on Windows; Wine 8 has none.
  const std::string status = lookedUp(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      (const void*)GetModuleHandleA("ntdll.dll"), 0xC0000135);
  _fixedString<500> text;
  EXPECT_EQ(status.empty() ? "ERROR code -1073741515. (No system message found)" : status,
            exceptionCodeText(text, 0xC0000135).text);
}

TEST(WindowsClocks, TickTimerFollowsSleep) {
  _tickTimer timer;
  Sleep(120);
  const int elapsed = timer.elapsedMs();
  EXPECT_GE(elapsed, 100);  // GetTickCount moves in steps of 10 to 16 ms
  EXPECT_GE(timer.lap(), elapsed);
  sleepMs(-5);  // nothing to wait for
  sleepMs(0);
}

// The runtime's own zone rules (TZ as "NAMEhh[:mm]"): the time of day equals
// _localtime64_s around midnight and noon UTC in zones up to 14 hours away.
TEST(WindowsClocks, TimeOfDayIsTheRuntimesLocalTime) {
  const char* zones[] = {"UTC0", "NPT-5:45", "ABC+7", "XYZ+11:30", "TOT-13", "LIN-14", "BIT+12"};
  const int64_t day = 1796515200;  // a midnight, UTC
  const int64_t instants[] = {day + 1800, day + 43200, day + 86400 - 1800, day + 86400 - 1};
  for (const char* zone : zones) {
    ASSERT_EQ(0, _putenv_s("TZ", zone));
    _tzset();
    for (int64_t instant : instants) {
      localOffsetSeconds = -1;
      updateLocalOffsetAt(instant, true);
      _wallClock clock;
      clock.seconds = instant;
      _fixedString<50> text;
      clock.timeOfDayString(text);
      __time64_t seconds = instant;
      struct tm local = {};
      ASSERT_EQ(0, _localtime64_s(&local, &seconds));
      char expected[50];
      snprintf(expected, sizeof(expected), "%02d:%02d.%02d", local.tm_hour, local.tm_min, local.tm_sec);
      EXPECT_STREQ(expected, text.text) << zone << " at " << instant;
    }
  }
  _putenv_s("TZ", "");
  _tzset();
  localOffsetSeconds = -1;
  _wallClock now;
  EXPECT_LE(now.seconds, (int64_t)_time64(nullptr));
  EXPECT_GE(now.seconds + 2, (int64_t)_time64(nullptr));
}

}  // namespace
}  // namespace ps
