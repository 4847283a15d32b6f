#include "base/error_text.h"

#include "platform/system_calls.h"

namespace ps {

namespace {

const uint32_t languageNeutralDefault = 0x400;
const int messageBufferSize = 500;

struct _exceptionText {
  uint32_t code;
  const char* text;
};

const _exceptionText exceptionTexts[] = {
    {0xC0000005,
     "EXCEPTION: The thread tried to read from or write to a virtual address for which it does not have "
     "the appropriate access. (Possible NULL Pointer)"},
    {0x80000002,
     "EXCEPTION: The thread tried to read or write data that is misaligned on hardware that does not "
     "provide alignment. For example, 16-bit values must be aligned on 2-byte boundaries; 32-bit values "
     "on 4-byte boundaries, and so on."},
    {0x80000003, "EXCEPTION: A breakpoint was encountered."},
    {0x80000004,
     "EXCEPTION: A trace trap or other single-instruction mechanism signaled that one instruction has "
     "been executed."},
    {0xC0000006,
     "EXCEPTION: The thread tried to access a page that was not present, and the system was unable to "
     "load the page. For example, this exception might occur if a network connection is lost while "
     "running a program over the network."},
    {0xC000001D, "EXCEPTION: The thread tried to execute an invalid instruction."},
    {0xC0000025, "EXCEPTION: The thread tried to continue execution after a noncontinuable exception occurred."},
    {0xC0000026,
     "EXCEPTION: An exception handler returned an invalid disposition to the exception dispatcher. "
     "Programmers using a high-level language such as C should never encounter this exception."},
    {0xC000008C,
     "EXCEPTION: The thread tried to access an array element that is out of bounds and the underlying "
     "hardware supports bounds checking."},
    {0xC000008D,
     "EXCEPTION: One of the operands in a floating-point operation is denormal. A denormal value is one "
     "that is too small to represent as a standard floating-point value."},
    {0xC000008E,
     "EXCEPTION: The thread tried to divide a floating-point value by a floating-point divisor of zero."},
    {0xC000008F,
     "EXCEPTION: The result of a floating-point operation cannot be represented exactly as a decimal "
     "fraction."},
    {0xC0000090, "EXCEPTION: This exception represents any floating-point exception not included in this list."},
    {0xC0000091,
     "EXCEPTION: The exponent of a floating-point operation is greater than the magnitude allowed by the "
     "corresponding type."},
    {0xC0000092, "EXCEPTION: The stack overflowed or underflowed as the result of a floating-point operation."},
    {0xC0000093,
     "EXCEPTION: The exponent of a floating-point operation is less than the magnitude allowed by the "
     "corresponding type."},
    {0xC0000094, "EXCEPTION: The thread tried to divide an integer value by an integer divisor of zero."},
    {0xC0000095,
     "EXCEPTION: The result of an integer operation caused a carry out of the most significant bit of the "
     "result."},
    {0xC0000096,
     "EXCEPTION: The thread tried to execute an instruction whose operation is not allowed in the current "
     "machine mode."},
    {0xC00000FD, "EXCEPTION: The thread used up its stack."},
};

// Message length after dropping one trailing LF and then one trailing CR.
int withoutLineEnd(const char* text, int n) {
  if (n > 0 && text[n - 1] == '\n') --n;
  if (n > 0 && text[n - 1] == '\r') --n;
  return n;
}

// The lookup writes at most its size including the NUL; a larger count from
// it must not lead past the buffer.
int clampedCount(uint32_t n) { return n < (uint32_t)messageBufferSize ? (int)n : messageBufferSize - 1; }

}  // namespace

_fixedString<500>& exceptionCodeText(_fixedString<500>& out, uint32_t code) {
  out.clear();
  for (const _exceptionText& entry : exceptionTexts) {
    if (entry.code == code) {
      out.assign(entry.text);
      return out;
    }
  }
  _fixedString<500> scratch;
  uint32_t n = systemCalls.formatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                             (const void*)GetModuleHandleA("ntdll.dll"), code, languageNeutralDefault,
                             scratch.text, messageBufferSize);
  if (n > 0) {
    scratch.setLength((int16_t)withoutLineEnd(scratch.text, clampedCount(n)));
  } else {
    scratch.clear();
    scratch.setLength(
        (int16_t)formatBounded(scratch.text, (int)sizeof(scratch.text), "ERROR code %d.", (int)code));
    scratch.append(" (No system message found)");
  }
  out.append(scratch.text, scratch.length);
  return out;
}

_fixedString<250>& systemErrorText(_fixedString<250>& out, uint32_t code) {
  out.clear();
  if (code == callingThreadLastError) code = GetLastError();
  if (code == 0) {
    out.assign("No Error.");
  } else if (code == ERROR_MOD_NOT_FOUND) {
    out.assign("A DLL is missing.");
  } else if (code == ERROR_BAD_IMPERSONATION_LEVEL) {
    out.assign(
        "Either a required impersonation level was not provided, or the provided impersonation level is "
        "invalid.");
  } else {
    _fixedString<500> message;
    int n = withoutLineEnd(
        message.text,
        clampedCount(systemCalls.formatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, languageNeutralDefault,
                                                message.text, messageBufferSize)));
    if (n > 0) {
      message.setLength((int16_t)n);
      // Formatted whole in the larger scratch, then cut to this capacity.
      _fixedString<500> line;
      formatBounded(line.text, (int)sizeof(line.text), "Error %d: %s.", (int)code, message.text);
      out.assign(line.text);
    } else {
      _fixedString<500> fallback;
      exceptionCodeText(fallback, code);
      out.assign(fallback.text);
      if (out.isEmpty())
        out.setLength((int16_t)formatBounded(out.text, (int)sizeof(out.text), "Error %d.", (int)code));
    }
  }
  // One line: every LF and CR becomes a blank.
  for (int i = 0; i < out.length; ++i)
    if (out.text[i] == '\n' || out.text[i] == '\r') out.text[i] = ' ';
  return out;
}

}  // namespace ps
