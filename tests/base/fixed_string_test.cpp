#include "base/fixed_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace ps {
namespace {

template <int N = 250>
_fixedString<N> make(const char* text) {
  _fixedString<N> s;
  s.assign(text);
  return s;
}

// The text, after checking that the length field agrees with the terminator.
template <int N>
std::string checked(const _fixedString<N>& s) {
  EXPECT_EQ(strnlen(s.text, N + 1), (size_t)s.length) << s.text;
  return std::string(s.text, strnlen(s.text, N + 1));
}

TEST(FixedString, CapacityAndLength) {
  _fixedString<10> s = make<10>(std::string(300, 'x').c_str());
  EXPECT_EQ("xxxxxxxxxx", checked(s));
  s.assign("ab");  // the rest of the earlier text is zeroed
  EXPECT_EQ(std::string("ab\0\0\0\0\0\0\0\0\0", 11), std::string(s.text, 11));
  s.append("cdefghijkl");
  EXPECT_EQ("abcdefghij", checked(s));
  s.assign(nullptr);
  EXPECT_EQ(std::string(11, '\0'), std::string(s.text, 11));
  memcpy(s.text, "abcdefghijk", 11);  // no NUL within the capacity
  s.syncLength();
  EXPECT_EQ("abcdefghij", checked(s));
  s.text[10] = 'k';
  s.setLength(300);
  EXPECT_EQ("abcdefghij", checked(s));
  s.setLength(-1);
  EXPECT_EQ("", checked(s));
}

TEST(FixedString, AppendPaddedAndNumbers) {
  // Appended to a capacity-10 string holding startLength dots.
  struct _case { int startLength; const char* text; int width; const char* appended; } cases[] = {
      {0, "ab", -5, "   ab"}, {0, "ab", 5, "ab   "}, {0, "abcdef", 3, "abcdef"}, {8, "abc", -10, "ab"},
      {8, "abc", 10, "ab"},   {6, "a", -10, "   a"}, {0, nullptr, 3, "   "},     {0, "ab", INT_MIN, "        ab"}};
  for (const _case& c : cases) {
    _fixedString<10> s = make<10>(std::string((size_t)c.startLength, '.').c_str());
    s.appendPadded(c.text, c.width);
    EXPECT_EQ(c.appended, checked(s).substr((size_t)c.startLength)) << c.text << " width " << c.width;
  }
  _fixedString<15> n = make<15>("123456789012");  // room 15 - 2 - 12 = 1: nothing
  n.appendNumber(7);
  EXPECT_EQ("123456789012", checked(n));
  n.setLength(11);  // room 2: one digit and the NUL
  n.appendNumber(78);
  EXPECT_EQ("123456789017", checked(n));
  _fixedString<250> padded;
  padded.appendNumberPadded(-5, -4);
  padded.appendNumberPadded(12, 3);
  EXPECT_EQ("  -512 ", checked(padded));
}

TEST(FixedString, TrimAndCharacterSearchStarts) {
  const char* trims[][2] = {{"\t  Intel \r\n", "Intel"}, {"     ", ""}, {"\vab\f", "\vab\f"}, {"\n\nx", "x"}};
  for (auto& t : trims) {
    _fixedString<250> s = make(t[0]);
    s.setLength(s.length + 1);  // a NUL inside the length goes too
    s.trim();
    EXPECT_EQ(t[1], checked(s)) << t[0];
  }
  _fixedString<250> s = make("aXbxc");
  // findCharNoCase('x', start) and findLastChar('x', start).
  struct _case { int start, noCase, last; } cases[] = {{-5, 1, 3}, {0, 1, -1}, {2, 3, -1}, {3, 3, 3}, {4, -1, 3}, {5, 1, 3}};
  for (const _case& c : cases) {
    EXPECT_EQ(c.noCase, s.findCharNoCase('x', c.start)) << c.start;
    EXPECT_EQ(c.last, s.findLastChar('x', c.start)) << c.start;
  }
}

TEST(FixedString, FindAndRemove) {
  _fixedString<250> hay = make("Intel(R) Xeon(R) Gold 6130");
  struct _case { const char* needle; int start, expected; } cases[] = {
      {"XEON", 9, 9},  {"xeon", 10, -1}, {"", 0, -1},           {"6130", 22, 22},     {"6130", 23, -1},
      {"(r)", 6, 13},  {"intel", -3, 0}, {"gold 6131", 0, -1},  {"xeon", INT_MAX, -1},
      {")q", 0, -1},  // same byte sum as the window "(R", other bytes
  };
  for (const _case& c : cases) EXPECT_EQ(c.expected, hay.find(c.needle, c.start)) << c.needle;
  _fixedString<250> s = make("Core");  // needle as long as the text
  EXPECT_TRUE(s.find("cORE") == 0 && s.find("cORE", 1) == -1 && s.find("Cora") == -1);
  EXPECT_EQ(-1, make<10>("abcdefghij").find("abcdefghijk"));  // not cut to fit

  s.assign("xabcabcx");  // a cut that joins a new occurrence
  s.removeAll("ABC");
  EXPECT_EQ("xx", checked(s));
  s.assign("abcdef");
  s.remove(2, 99);
  s.remove(-1, 1);
  EXPECT_EQ("b", checked(s));
}

TEST(FixedString, ToFloat) {
  struct _case { const char* text; float value; } cases[] = {
      {"4", 4.0f},          {"3.60", 3.6f},  {"2,50", 2.5f},       {"1,234.5", 1234.5f},
      {"1.234,5", 1234.5f}, {"1.2.3", 1.3f}, {"3.1234567", 3.0f},  {"3.123456", 3.123456f},
      {"3.6GHz", 3.0006f},  {"", 0.0f},      {"-0.5", -0.5f},      {"99999999999.5", 2147483647.5f},
  };
  for (const _case& c : cases) EXPECT_FLOAT_EQ(c.value, make(c.text).toFloat()) << c.text;
}

TEST(FixedStringW, WidensEachByteAndCuts) {
  _fixedStringW<10> w;
  EXPECT_EQ(10, w.assign("Processor Information").length);
  w.assign("ab\xE9");  // no code-page conversion; the earlier text is zeroed
  EXPECT_EQ(std::u16string(u"ab\u00E9") + std::u16string(8, u'\0'), std::u16string(w.text, 11));
}

}  // namespace
}  // namespace ps
