// Fixed-capacity strings: text kept inline with a 16-bit length, always
// NUL-terminated, silently cut at the capacity, never allocating. Records
// embed them, so a record is copied and cleared as one block of bytes.
#pragma once

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// printf-format checking where the compiler has it; MinGW's own printf
// (C99 conversions) is the one its headers name.
#if defined(__MINGW32__) && defined(__MINGW_PRINTF_FORMAT)
#define PS_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define PS_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define PS_PRINTF_FORMAT(f, a)
#endif

namespace ps {

// printf into buffer, at most capacity bytes including the NUL. Returns the
// characters now in the buffer, or -1 when formatting fails.
int formatBounded(char* buffer, int capacity, const char* format, ...) PS_PRINTF_FORMAT(3, 4);
// The same over an argument list, for callers that take their own arguments.
int formatBoundedList(char* buffer, int capacity, const char* format, va_list args) PS_PRINTF_FORMAT(3, 0);

inline char upperChar(char c) { return (char)toupper((unsigned char)c); }

// atoi with the result held to the int range instead of wrapping; inline,
// so that the header needs no library.
inline int parseIntClamped(const char* text) {
  if (!text) return 0;
  const long long value = strtoll(text, nullptr, 10);
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : (int)value;
}

template <int N>
struct _fixedString {
  static_assert(N > 0 && N < 65535, "capacity must fit the 16-bit length");
  uint16_t length;
  char text[N + 1];

  _fixedString() { clear(); }

  void clear() {
    length = 0;
    memset(text, 0, sizeof(text));
  }

  _fixedString& assign(const char* source) {
    if (!source) {
      clear();
      return *this;
    }
    size_t n = strnlen(source, N);
    memmove(text, source, n);
    length = (uint16_t)n;
    text[length] = 0;
    zeroTail();
    return *this;
  }

  void append(const char* source) {
    if (source) append(source, (int)strlen(source));
  }

  void append(const char* source, int count) {
    if (!source || count <= 0) return;
    int n = count < N - length ? count : N - length;
    memmove(text + length, source, (size_t)n);
    length = (uint16_t)(length + n);
    text[length] = 0;
  }

  template <int M>
  void append(const _fixedString<M>& other) {
    for (int i = 0; i < other.length && length < N; ++i) text[length++] = other.text[i];
    text[length] = 0;
  }

  // Negative width: blanks first (right-aligned); positive: blanks after.
  // A text longer than the width is kept whole, cut only at capacity.
  void appendPadded(const char* source, int width) {
    int sourceLength = source ? (int)strlen(source) : 0;
    if (sourceLength == 0 && width == 0) return;
    int room = N - length;
    int c = sourceLength < room ? sourceLength : room;
    long long absWidth = width < 0 ? -(long long)width : width;
    int pad = (absWidth < room ? (int)absWidth : room) - c;
    if (pad > 0 && width < 0) appendBlanks(pad);
    if (c > 0) append(source, c);
    if (pad > 0 && width > 0) appendBlanks(pad);
    text[length] = 0;
  }

  // Appends only while at least two characters of room remain.
  void appendNumber(long long value) {
    int room = N - 2 - length;
    if (room < 2) return;
    formatBounded(text + length, room, "%lld", value);
    syncLength();
  }

  void appendNumberPadded(long long value, int8_t width) {
    _fixedString<20> digits;
    digits.appendNumber(value);
    appendPadded(digits.text, width);
  }

  void setLength(int16_t n) {
    if (n < 0) {
      length = 0;
      text[0] = 0;
      return;
    }
    length = (uint16_t)(n < N ? n : N);
    text[length] = 0;
  }

  void syncLength() {
    const void* nul = memchr(text, 0, N);
    if (nul) {
      length = (uint16_t)((const char*)nul - text);
    } else {
      length = N;
      text[N] = 0;
    }
  }

  void zeroTail() { memset(text + length, 0, (size_t)(N + 1 - length)); }

  bool isEmpty() const { return length == 0; }
  bool isNotEmpty() const { return length != 0; }

  void toUpper() {
    for (int i = 0; i < length; ++i) text[i] = upperChar(text[i]);
  }

  // Strips NUL, TAB, LF, CR and blanks at both ends.
  void trim() {
    while (length > 0 && isTrimmed(text[length - 1])) --length;
    int lead = 0;
    while (lead < length && isTrimmed(text[lead])) ++lead;
    if (lead > 0) memmove(text, text + lead, (size_t)(length - lead));
    length = (uint16_t)(length - lead);
    text[length] = 0;
  }

  int findChar(char c) const {
    for (int i = 0; i < length; ++i)
      if (text[i] == c) return i;
    return -1;
  }

  // A start outside 1..length-1 searches from 0.
  int findCharNoCase(char c, int start = 0) const {
    if (start < 1 || start > length - 1) start = 0;
    char upper = upperChar(c);
    for (int i = start; i < length; ++i)
      if (upperChar(text[i]) == upper) return i;
    return -1;
  }

  // A start outside 0..length-1 searches from the end.
  int findLastChar(char c, int start = -1) const {
    if (start < 0 || start > length - 1) start = length - 1;
    for (int i = start; i >= 0; --i)
      if (text[i] == c) return i;
    return -1;
  }

  // Case-ignoring substring search; a rolling byte sum skips most windows.
  int find(const _fixedString& needle, int start = 0) const {
    if (start < 0) start = 0;
    int n = needle.length;
    if (n == 0 || start > length - n) return -1;
    if (n == length) return compareNoCase(needle) == 0 ? 0 : -1;
    _fixedString hay = *this;
    _fixedString pattern = needle;
    hay.toUpper();
    pattern.toUpper();
    int wanted = 0, window = 0;
    for (int i = 0; i < n; ++i) {
      wanted += (signed char)pattern.text[i];
      window += (signed char)hay.text[start + i];
    }
    for (int p = start;; ++p) {
      if (window == wanted && memcmp(hay.text + p, pattern.text, (size_t)n) == 0) return p;
      if (p + n >= length) return -1;
      window -= (signed char)hay.text[p];
      window += (signed char)hay.text[p + n];
    }
  }

  int find(const char* needle, int start = 0) const {
    // A needle longer than the capacity cannot be in here; cut, it could match wrongly.
    if (needle && strlen(needle) > (size_t)N) return -1;
    _fixedString pattern;
    pattern.assign(needle);
    return find(pattern, start);
  }

  int compareNoCase(const _fixedString& other) const {
    _fixedString a = *this, b = other;
    a.toUpper();
    b.toUpper();
    int shorter = a.length < b.length ? a.length : b.length;
    int r = memcmp(a.text, b.text, (size_t)shorter);
    if (r != 0) return r;
    if (a.length < b.length) return -1;
    if (a.length > b.length) return 1;
    return 0;
  }

  bool equalsNoCase(const _fixedString& other) const {
    if (length != other.length) return false;
    for (int i = 0; i < length; ++i)
      if (upperChar(text[i]) != upperChar(other.text[i])) return false;
    return true;
  }

  bool equalsNoCase(const char* other) const {
    _fixedString b;
    b.assign(other);
    return other && strlen(other) <= (size_t)N && equalsNoCase(b);
  }

  bool startsWithNoCase(const char* prefix) const {
    int n = prefix ? (int)strlen(prefix) : 0;
    if (length == 0 || n == 0 || n > length) return false;
    for (int i = 0; i < n; ++i)
      if (upperChar(text[i]) != upperChar(prefix[i])) return false;
    return true;
  }

  bool endsWithNoCase(const char* suffix) const {
    int n = suffix ? (int)strlen(suffix) : 0;
    if (length == 0 || n == 0 || n > length) return false;
    for (int i = 0; i < n; ++i)
      if (upperChar(text[length - n + i]) != upperChar(suffix[i])) return false;
    return true;
  }

  // Cuts out every case-ignoring occurrence, searching on from each cut.
  void removeAll(const char* needle) {
    if (!needle || strlen(needle) > (size_t)N) return;
    _fixedString pattern;
    pattern.assign(needle);
    for (int p = find(pattern); p >= 0; p = find(pattern, p)) remove(p, pattern.length);
  }

  // Out-of-range positions and counts are clamped to the text.
  void remove(int position, int count) {
    if (position < 0) position = 0;
    if (position > length) position = length;
    if (count < 0) count = 0;
    if (count > length - position) count = length - position;
    _fixedString copy = *this;
    length = 0;
    append(copy.text, position);
    append(copy.text + position + count, copy.length - position - count);
    text[length] = 0;
  }

  _fixedString removeCharNoCase(char c) {
    _fixedString copy = *this;
    char upper = upperChar(c);
    length = 0;
    for (int i = 0; i < copy.length; ++i)
      if (upperChar(copy.text[i]) != upper) text[length++] = copy.text[i];
    text[length] = 0;
    return *this;
  }

  template <int M>
  void insert(int position, const _fixedString<M>& other) {
    int p = position < 0 ? 0 : (position < length ? position : length);
    _fixedString copy = *this;
    length = 0;
    append(copy.text, p);
    append(other.text, other.length);
    append(copy.text + p, copy.length - p);
    text[length] = 0;
  }

  _fixedString left(int count) const {
    _fixedString result;
    if (count > length) count = length;
    result.append(text, count);
    return result;
  }

  // Reads "3.60", "2,5", "1,234.5" or "1.234,5"; one to six fraction
  // characters count, more or none leave the integer part alone. A leading
  // minus applies to the fraction too.
  float toFloat() const {
    _fixedString copy = *this;
    char decimal = '.', thousands = ',';
    if (copy.findLastChar(',') > copy.findLastChar('.')) {
      decimal = ',';
      thousands = '.';
    }
    copy.removeCharNoCase(thousands);
    int d = copy.findLastChar(decimal);
    if (d < 0) return (float)parseIntClamped(text);
    _fixedString integer = copy.left(d);
    float whole = (float)parseIntClamped(integer.text);
    copy.remove(0, d + 1);
    int fraction = parseIntClamped(copy.text);
    int k = copy.length;
    static const float divisors[] = {10.0f, 100.0f, 1000.0f, 10000.0f, 100000.0f, 1000000.0f};
    if (k < 1 || k > 6) return whole;
    float part = (float)fraction / divisors[k - 1];
    int sign = 0;
    while (sign < integer.length && isspace((unsigned char)integer.text[sign])) ++sign;
    return sign < integer.length && integer.text[sign] == '-' ? whole - part : whole + part;
  }

 private:
  static bool isTrimmed(char c) { return c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' '; }

  void appendBlanks(int count) {
    while (count-- > 0 && length < N) text[length++] = ' ';
  }
};

// UTF-16 text for the wide registry and counter-name calls; only ASCII is
// ever widened, one unit per byte.
template <int N>
struct _fixedStringW {
  static_assert(N > 0 && N < 65535, "capacity must fit the 16-bit length");
  uint16_t length;
  char16_t text[N + 1];

  _fixedStringW() { clear(); }

  void clear() {
    length = 0;
    memset(text, 0, sizeof(text));
  }

  void zeroTail() { memset(text + length, 0, sizeof(char16_t) * (size_t)(N + 1 - length)); }

  _fixedStringW& assign(const char* source) {
    if (!source) {
      clear();
      return *this;
    }
    length = 0;
    append(source);
    zeroTail();
    return *this;
  }

  void append(const char* source) {
    if (!source) return;
    for (; *source && length < N; ++source) text[length++] = (char16_t)(unsigned char)*source;
    text[length] = 0;
  }

  void appendUnit(char16_t unit) {
    if (length < N) text[length++] = unit;
    text[length] = 0;
  }

  bool equals(const _fixedStringW& other) const {
    return length == other.length && memcmp(text, other.text, sizeof(char16_t) * length) == 0;
  }
};

}  // namespace ps
