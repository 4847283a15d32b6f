// Last error per thread and the system's message texts for the Linux build.
#include <cstring>

#include "platform/windows_api.h"

namespace ps {

namespace {

thread_local DWORD lastError = 0;

constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;

struct _systemMessage {
  DWORD code;
  const char* text;
};

// The Windows English texts of the codes this layer can produce, with the
// line end that Windows keeps on every message.
const _systemMessage systemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_MR_MID_NOT_FOUND, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
};

const char* findSystemMessage(DWORD code) {
  for (const _systemMessage& entry : systemMessages)
    if (entry.code == code) return entry.text;
  return nullptr;
}

}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, char* buffer,
                     DWORD size, void* arguments) {
  (void)source;
  (void)languageId;
  (void)arguments;
  // Only caller-owned buffers are supported.
  if (!buffer || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Linux has no module message tables (ntdll's among them): a module
  // lookup finds nothing unless the system table is asked as well.
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
    SetLastError((flags & FORMAT_MESSAGE_FROM_HMODULE) ? ERROR_MR_MID_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* text = findSystemMessage(messageId);
  if (!text) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // Inserts are never filled in: a message with them is only handed out as
  // it stands, which the caller must ask for.
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && strchr(text, '%')) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = strlen(text);
  if (length + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(buffer, text, length + 1);
  return (DWORD)length;
}

}  // namespace ps
