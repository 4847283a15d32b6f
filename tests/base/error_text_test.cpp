#include "base/error_text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/system_text.h"
#include "platform/system_calls.h"

namespace ps {
namespace {

TEST(ErrorText, SystemMessagesOfThisPlatform) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "No Error."},
      {ERROR_MOD_NOT_FOUND, "A DLL is missing."},
      {ERROR_BAD_IMPERSONATION_LEVEL,
       "Either a required impersonation level was not provided, or the provided impersonation level is invalid."},
      {2, "Error 2: The system cannot find the file specified.."},
      {0xC0000005, "EXCEPTION: The thread tried to read from or write to a virtual address for which it "
                   "does not have the appropriate access. (Possible NULL Pointer)"},
      {0xE0000001, "ERROR code -536870911. (No system message found)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, systemText(c.first)) << c.first;

  SetLastError(0);
  EXPECT_EQ("No Error.", systemText(callingThreadLastError));
  SetLastError(5);
  EXPECT_EQ("Error 5: Access is denied..", systemText(callingThreadLastError));
}

// Stands in for the system's message lookup; answers only when asked the way the texts are looked up.
const char* fakeSystemMessage;
const char* fakeModuleMessage;

DWORD fakeLookup(DWORD flags, LPCVOID source, DWORD, DWORD, char* buffer, DWORD size) {
  bool fromSystem = flags == FORMAT_MESSAGE_FROM_SYSTEM && !source && size == 500;
  bool fromNtdll = flags == (FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS) &&
                   source == (const void*)GetModuleHandleA("ntdll.dll") && size == 500;
  const char* text = fromSystem ? fakeSystemMessage : fromNtdll ? fakeModuleMessage : nullptr;
  if (!text) return 0;
  snprintf(buffer, size, "%s", text);
  return (DWORD)strlen(buffer);
}

TEST(ErrorText, OneLineFromSystemThenNtdllCutAt250) {
  _systemCalls calls = realSystemCalls;
  calls.formatMessageA = fakeLookup;
  const _replacedSystemCalls replaced(calls);
  // Inner line breaks become blanks; only LF then CR at the very end are dropped.
  const char* cases[][2] = {{"A.\r\nB.\r\n", "Error 7: A.  B.."}, {"A.\n\r", "Error 7: A. ."}};
  for (auto& c : cases) {
    fakeSystemMessage = c[0];
    EXPECT_EQ(c[1], systemText(7)) << c[0];
  }

  fakeSystemMessage = "\r\n";  // only a line end counts as no message
  fakeModuleMessage = "{Status}\r\nFirst line.\r\n";
  EXPECT_EQ("{Status}  First line.", systemText(0xC0000135));
  _fixedString<500> exception;
  EXPECT_STREQ("{Status}\r\nFirst line.", exceptionCodeText(exception, 0xC0000135).text);  // breaks stay

  std::string message(240, 'm'), withLineEnd = message + "\r\n";
  fakeSystemMessage = withLineEnd.c_str();
  EXPECT_EQ(("Error -2147483647: " + message).substr(0, 250), systemText(0x80000001));
}

TEST(PlatformMessages, LastErrorIsPerThread) {
  SetLastError(87);
  DWORD setByLookup = 0;
  std::thread([&] {
    char buffer[500];
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xE0000001, 0x400, buffer, 500, nullptr);
    setByLookup = GetLastError();
  }).join();
  EXPECT_EQ(317u, setByLookup);
  EXPECT_EQ(87u, GetLastError());
}

}  // namespace
}  // namespace ps
