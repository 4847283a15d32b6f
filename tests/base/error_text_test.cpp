#include "base/error_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "platform/windows_api.h"

namespace ps {
namespace {

const char* accessViolation =
    "EXCEPTION: The thread tried to read from or write to a virtual address for which it does not have the "
    "appropriate access. (Possible NULL Pointer)";

std::string systemText(uint32_t code) {
  _fixedString<250> out;
  out.assign("stale");
  systemErrorText(out, code);
  EXPECT_EQ(strlen(out.text), out.length);
  return out.text;
}

std::string exceptionText(uint32_t code) {
  _fixedString<500> out;
  exceptionCodeText(out, code);
  return out.text;
}

TEST(ErrorText, SystemMessagesOfThisPlatform) {
  struct Case {
    uint32_t code;
    const char* text;
  } cases[] = {
      {0, "No Error."},
      {126, "A DLL is missing."},
      {1346,
       "Either a required impersonation level was not provided, or the provided impersonation level is "
       "invalid."},
      {2, "Error 2: The system cannot find the file specified.."},
      {5, "Error 5: Access is denied.."},
      {122, "Error 122: The data area passed to a system call is too small.."},
      {1168, "Error 1168: Element not found.."},
      {0xC0000005, accessViolation},
      {0xC00000FD, "EXCEPTION: The thread used up its stack."},
      {0xE0000001, "ERROR code -536870911. (No system message found)"},
      // Its message has inserts, which no arguments fill.
      {317, "ERROR code 317. (No system message found)"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, systemText(c.code)) << c.code;
}

TEST(ErrorText, LastErrorStandsInForAllOnes) {
  SetLastError(0);
  EXPECT_EQ("No Error.", systemText(0xFFFFFFFFu));
  SetLastError(5);
  EXPECT_EQ("Error 5: Access is denied..", systemText(0xFFFFFFFFu));
  SetLastError(0);
}

TEST(ErrorText, ExceptionTable) {
  EXPECT_EQ(accessViolation, exceptionText(0xC0000005));
  EXPECT_EQ("EXCEPTION: A breakpoint was encountered.", exceptionText(0x80000003));
  EXPECT_EQ("ERROR code -1073741820. (No system message found)", exceptionText(0xC0000004));
  EXPECT_EQ("ERROR code 2. (No system message found)", exceptionText(2));

  const uint32_t tableCodes[] = {0xC0000005, 0x80000002, 0x80000003, 0x80000004, 0xC0000006,
                                 0xC000001D, 0xC0000025, 0xC0000026, 0xC000008C, 0xC000008D,
                                 0xC000008E, 0xC000008F, 0xC0000090, 0xC0000091, 0xC0000092,
                                 0xC0000093, 0xC0000094, 0xC0000095, 0xC0000096, 0xC00000FD};
  std::set<std::string> texts;
  size_t longest = 0;
  for (uint32_t code : tableCodes) {
    std::string text = exceptionText(code);
    EXPECT_EQ(0u, text.find("EXCEPTION: ")) << code;
    texts.insert(text);
    longest = std::max(longest, text.size());
  }
  EXPECT_EQ(20u, texts.size());
  EXPECT_EQ(225u, longest);
}

// A stand-in for the system's message lookup, recording how it was asked.
struct lookupCall {
  int count;
  uint32_t flags;
  const void* source;
  uint32_t language;
  uint32_t size;
};
lookupCall lastCall;
const char* fakeSystemMessage;
const char* fakeModuleMessage;

uint32_t fakeLookup(uint32_t flags, const void* source, uint32_t, uint32_t language, char* buffer,
                    uint32_t size) {
  lastCall = {lastCall.count + 1, flags, source, language, size};
  const char* text = (flags & FORMAT_MESSAGE_FROM_SYSTEM) ? fakeSystemMessage : fakeModuleMessage;
  if (!text) return 0;
  snprintf(buffer, size, "%s", text);
  return (uint32_t)strlen(buffer);
}

class ErrorTextLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    lastCall = {};
    fakeSystemMessage = nullptr;
    fakeModuleMessage = nullptr;
    setMessageLookup(fakeLookup);
  }
  void TearDown() override { setMessageLookup(nullptr); }
};

TEST_F(ErrorTextLookup, AsksTheSystemThenNtdll) {
  fakeSystemMessage = "Some failure.\r\n";
  EXPECT_EQ("Error 1000: Some failure..", systemText(1000));
  EXPECT_EQ(1, lastCall.count);
  EXPECT_EQ(FORMAT_MESSAGE_FROM_SYSTEM, lastCall.flags);
  EXPECT_EQ(nullptr, lastCall.source);
  EXPECT_EQ(0x400u, lastCall.language);
  EXPECT_EQ(500u, lastCall.size);

  fakeSystemMessage = "\r\n";  // only a line end counts as no message
  fakeModuleMessage = "{Status}\r\nFirst line.\nSecond line.\r\n";
  EXPECT_EQ("{Status}  First line. Second line.", systemText(0xC0000135));
  EXPECT_EQ(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, lastCall.flags);
  EXPECT_EQ((const void*)GetModuleHandleA("ntdll.dll"), lastCall.source);
  // The exception text itself keeps the inner line breaks.
  EXPECT_EQ("{Status}\r\nFirst line.\nSecond line.", exceptionText(0xC0000135));

  lastCall.count = 0;
  for (uint32_t fixed : {0u, 126u, 1346u}) systemText(fixed);
  exceptionText(0xC0000005);
  EXPECT_EQ(0, lastCall.count);
}

TEST_F(ErrorTextLookup, LineEndsAndBreaks) {
  struct Case {
    const char* message;
    const char* text;
  } cases[] = {
      {"A.\r\nB.\r\n", "Error 7: A.  B.."},
      {"A.\n", "Error 7: A.."},
      {"A.\r", "Error 7: A.."},
      {"A.\n\r", "Error 7: A. ."},  // only LF then CR at the very end are dropped
      {"A.\r\n\r\n", "Error 7: A.  ."},
  };
  for (const Case& c : cases) {
    fakeSystemMessage = c.message;
    EXPECT_EQ(c.text, systemText(7)) << c.message;
  }
}

TEST_F(ErrorTextLookup, LongMessagesCutAt250) {
  for (size_t length : {229u, 230u, 231u, 240u, 498u}) {
    std::string message(length, 'm');
    message += "\r\n";
    fakeSystemMessage = message.c_str();
    std::string full = "Error -2147483647: " + std::string(length, 'm') + ".";
    EXPECT_EQ(full.substr(0, 250), systemText(0x80000001)) << length;
  }
  std::string huge(600, 'n');
  fakeSystemMessage = nullptr;
  fakeModuleMessage = huge.c_str();
  EXPECT_EQ(std::string(250, 'n'), systemText(0x80000001));
  EXPECT_EQ(std::string(499, 'n'), exceptionText(0x80000001));
}

TEST(PlatformMessages, FormatMessageResults) {
  char buffer[500];
  struct Case {
    uint32_t flags;
    uint32_t code;
    uint32_t size;
    uint32_t result;
    uint32_t lastError;
  } cases[] = {
      {FORMAT_MESSAGE_FROM_SYSTEM, 2, 500, 44, 0},
      {FORMAT_MESSAGE_FROM_SYSTEM, 2, 45, 44, 0},
      {FORMAT_MESSAGE_FROM_SYSTEM, 2, 44, 0, 122},
      {FORMAT_MESSAGE_FROM_SYSTEM, 0xE0000001, 500, 0, 317},
      {FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, 0xC0000005, 500, 0, 317},
      {FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 317, 500, 89, 0},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(c.result, FormatMessageA(c.flags, nullptr, c.code, 0x400, buffer, c.size, nullptr)) << c.code;
    EXPECT_EQ(c.lastError, GetLastError()) << c.code;
  }
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 234, 0x400, buffer, 500, nullptr);
  EXPECT_STREQ("More data is available.\r\n", buffer);
}

TEST(PlatformMessages, LastErrorIsPerThread) {
  SetLastError(87);
  DWORD seenByOther = 1;
  std::thread other([&] {
    seenByOther = GetLastError();
    SetLastError(6);
  });
  other.join();
  EXPECT_EQ(0u, seenByOther);
  EXPECT_EQ(87u, GetLastError());
  SetLastError(0);
}

}  // namespace
}  // namespace ps
