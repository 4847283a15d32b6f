#include "base/fixed_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace ps {
namespace {

template <int N>
_fixedString<N> make(const char* text) {
  _fixedString<N> s;
  s.assign(text);
  return s;
}

template <int N>
bool zeroedFrom(const _fixedString<N>& s, int from) {
  for (int i = from; i <= N; ++i)
    if (s.text[i] != 0) return false;
  return true;
}

TEST(FixedString, AssignCutsAtCapacityAndZeroesTail) {
  std::string longText(300, 'x');
  _fixedString<250> s250;
  memset(s250.text, 'z', sizeof(s250.text));
  s250.assign(longText.c_str());
  EXPECT_EQ(250, s250.length);
  EXPECT_EQ(0, s250.text[250]);

  _fixedString<100> s = make<100>(longText.c_str());
  EXPECT_EQ(100, s.length);
  s.assign("abc");
  EXPECT_EQ(3, s.length);
  EXPECT_TRUE(zeroedFrom(s, 3));

  s.assign(nullptr);
  EXPECT_EQ(0, s.length);
  EXPECT_TRUE(zeroedFrom(s, 0));
}

TEST(FixedString, AppendCutsAtCapacity) {
  _fixedString<100> s = make<100>(std::string(95, 'a').c_str());
  s.append("0123456789");
  EXPECT_EQ(100, s.length);
  EXPECT_STREQ("01234", s.text + 95);

  _fixedString<10> t = make<10>("ab");
  t.append(nullptr, 5);
  t.append("xyz", 0);
  t.append("xyz", -3);
  EXPECT_STREQ("ab", t.text);
  t.append(make<20>("0123456789"));
  EXPECT_STREQ("ab01234567", t.text);
  EXPECT_EQ(10, t.length);
}

TEST(FixedString, AppendPadded) {
  struct Case {
    int startLength;  // of a capacity-10 string filled with '.'
    const char* text;
    int width;
    const char* appended;
  } cases[] = {
      {0, "ab", -5, "   ab"},    {0, "ab", 5, "ab   "},     {0, "abcdef", 3, "abcdef"},
      {0, "abcdef", -3, "abcdef"}, {8, "abc", -10, "ab"},  {8, "abc", 10, "ab"},
      {6, "a", -10, "   a"},     {0, "", 0, ""},            {0, nullptr, 0, ""},
      {0, nullptr, 3, "   "},    {0, "ab", 0, "ab"},        {0, "ab", INT_MIN, "        ab"},
  };
  for (const Case& c : cases) {
    _fixedString<10> s = make<10>(std::string((size_t)c.startLength, '.').c_str());
    s.appendPadded(c.text, c.width);
    EXPECT_EQ(std::string(c.appended), std::string(s.text + c.startLength))
        << (c.text ? c.text : "(null)") << " width " << c.width;
    EXPECT_EQ(strlen(s.text), s.length);
  }
}

TEST(FixedString, AppendNumberNeedsRoom) {
  _fixedString<15> s;
  s.appendNumber(-42);
  EXPECT_STREQ("-42", s.text);

  s.assign("123456789012");  // room = 15 - 2 - 12 = 1
  s.appendNumber(7);
  EXPECT_STREQ("123456789012", s.text);
  s.setLength(11);  // room 2: one digit and the NUL
  s.appendNumber(78);
  EXPECT_STREQ("123456789017", s.text);

  _fixedString<20> big;
  big.appendNumber(-9223372036854775807LL - 1);
  EXPECT_STREQ("-9223372036854775", big.text);  // cut to room - 1 characters

  _fixedString<250> padded;
  padded.appendNumberPadded(-5, -4);
  padded.appendNumberPadded(12, 3);
  EXPECT_STREQ("  -512 ", padded.text);
}

TEST(FixedString, LengthControl) {
  _fixedString<250> s = make<250>("abcdef");
  s.setLength(-1);
  EXPECT_EQ(0, s.length);
  EXPECT_EQ(0, s.text[0]);
  s.setLength(300);
  EXPECT_EQ(250, s.length);
  EXPECT_EQ(0, s.text[250]);

  _fixedString<5> t;
  memcpy(t.text, "abcdef", 6);
  t.syncLength();
  EXPECT_EQ(5, t.length);
  EXPECT_EQ(0, t.text[5]);
  t.text[2] = 0;
  t.syncLength();
  EXPECT_EQ(2, t.length);
}

TEST(FixedString, Trim) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"\t  Intel \r\n", "Intel"}, {"     ", ""},        {"", ""},
      {"a b", "a b"},              {"\vab\f", "\vab\f"}, {"\n\nx", "x"},
  };
  for (const Case& c : cases) {
    _fixedString<250> s = make<250>(c.in);
    s.trim();
    EXPECT_STREQ(c.out, s.text) << c.in;
    EXPECT_EQ(strlen(c.out), s.length);
  }
}

TEST(FixedString, CharacterSearches) {
  _fixedString<250> s = make<250>("aXbxc");
  EXPECT_EQ(1, s.findChar('X'));
  EXPECT_EQ(-1, s.findChar('z'));

  struct Case {
    int start;
    int noCase;  // findCharNoCase('x', start)
    int last;    // findLastChar('x', start)
  } cases[] = {
      {-5, 1, 3}, {0, 1, -1}, {1, 1, -1}, {2, 3, -1}, {3, 3, 3}, {4, -1, 3}, {5, 1, 3}, {-1, 1, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.noCase, s.findCharNoCase('x', c.start)) << c.start;
    EXPECT_EQ(c.last, s.findLastChar('x', c.start)) << c.start;
  }
  _fixedString<250> empty;
  EXPECT_EQ(-1, empty.findChar(0));
  EXPECT_EQ(-1, empty.findCharNoCase('a'));
  EXPECT_EQ(-1, empty.findLastChar('a'));
}

TEST(FixedString, Find) {
  _fixedString<250> hay = make<250>("Intel(R) Xeon(R) Gold 6130");
  struct Case {
    const char* needle;
    int start;
    int expected;
  } cases[] = {
      {"xeon", 0, 9},   {"XEON", 9, 9},       {"xeon", 10, -1},   {"", 0, -1},
      {"6130", 22, 22}, {"6130", 23, -1},     {"(r)", 6, 13},     {"gold 6131", 0, -1},
      {"intel", -3, 0}, {"xeon", INT_MAX, -1},
      // Same byte sum as the window "(R" but other bytes: the sum alone must not match.
      {")q", 0, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, hay.find(c.needle, c.start)) << c.needle;

  _fixedString<250> same = make<250>("Core");
  EXPECT_EQ(0, same.find("cORE"));
  EXPECT_EQ(-1, same.find("cORE", 1));
  EXPECT_EQ(-1, same.find("Cora"));

  _fixedString<10> small = make<10>("abcdefghij");
  EXPECT_EQ(-1, small.find("abcdefghijk"));  // longer than capacity is never cut to match
}

TEST(FixedString, Comparisons) {
  EXPECT_LT(make<100>("abc").compareNoCase(make<100>("ABCD")), 0);
  EXPECT_GT(make<100>("ABCD").compareNoCase(make<100>("abc")), 0);
  EXPECT_EQ(0, make<100>("ABC").compareNoCase(make<100>("abc")));
  EXPECT_LT(make<100>("abc").compareNoCase(make<100>("abd")), 0);

  _fixedString<100> word = make<100>("AllVerbose");
  EXPECT_TRUE(word.equalsNoCase("allverbose"));
  EXPECT_FALSE(word.equalsNoCase("allverbos"));
  EXPECT_FALSE(word.equalsNoCase(nullptr));

  struct Case {
    const char* affix;
    bool starts;
    bool ends;
  } cases[] = {
      {"all", true, false}, {"BOSE", false, true}, {"", false, false},
      {nullptr, false, false}, {"AllVerbose", true, true}, {"AllVerbose!", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.starts, word.startsWithNoCase(c.affix)) << (c.affix ? c.affix : "(null)");
    EXPECT_EQ(c.ends, word.endsWithNoCase(c.affix)) << (c.affix ? c.affix : "(null)");
  }
  EXPECT_FALSE(_fixedString<100>().startsWithNoCase("a"));
}

TEST(FixedString, Editing) {
  _fixedString<250> s = make<250>("Intel(R) Core(TM) i7 CPU @ 3.60GHz");
  s.removeAll("(r)");
  s.removeAll("(tm)");
  EXPECT_STREQ("Intel Core i7 CPU @ 3.60GHz", s.text);

  _fixedString<250> overlap = make<250>("aaaa");
  overlap.removeAll("aa");
  EXPECT_STREQ("", overlap.text);

  _fixedString<250> joined = make<250>("xabcabcx");
  joined.removeAll("ABC");
  EXPECT_STREQ("xx", joined.text);

  _fixedString<250> r = make<250>("abcdef");
  r.remove(1, 2);
  EXPECT_STREQ("adef", r.text);
  r.remove(2, 99);
  EXPECT_STREQ("ad", r.text);
  r.remove(-1, 1);
  EXPECT_STREQ("d", r.text);

  _fixedString<250> c = make<250>("a-B-b-c");
  _fixedString<250> copy = c.removeCharNoCase('b');
  EXPECT_STREQ("a---c", c.text);
  EXPECT_STREQ("a---c", copy.text);

  _fixedString<10> ins = make<10>("abcdef");
  ins.insert(2, make<5>("XYZ"));
  EXPECT_STREQ("abXYZcdef", ins.text);
  ins.insert(99, make<5>("12"));
  EXPECT_STREQ("abXYZcdef1", ins.text);  // cut at capacity
  ins.insert(-4, make<5>("<"));
  EXPECT_STREQ("<abXYZcdef", ins.text);

  EXPECT_STREQ("abc", make<250>("abcdef").left(3).text);
  EXPECT_STREQ("ab", make<250>("ab").left(9).text);
}

TEST(FixedString, ToFloat) {
  struct Case {
    const char* text;
    float value;
  } cases[] = {
      {"4", 4.0f},           {"3.60", 3.6f},        {"2,5", 2.5f},        {"2,50", 2.5f},
      {"1,234.5", 1234.5f},  {"1.234,5", 1234.5f},  {"1.2.3", 1.3f},      {"3.1234567", 3.0f},
      {"3.123456", 3.123456f}, {"3.", 3.0f},        {"3.6GHz", 3.0006f}, {"1,234", 1.234f},
      {"", 0.0f},            {"-0.5", -0.5f},       {"-2.25", -2.25f},    {"99999999999.5", 2147483647.5f},
  };
  for (const Case& c : cases) EXPECT_FLOAT_EQ(c.value, make<250>(c.text).toFloat()) << c.text;
}

TEST(FixedString, FormatBounded) {
  char buffer[8];
  EXPECT_EQ(3, formatBounded(buffer, sizeof(buffer), "%d", 123));
  EXPECT_EQ(7, formatBounded(buffer, sizeof(buffer), "%s", "abcdefghij"));
  EXPECT_STREQ("abcdefg", buffer);
  EXPECT_EQ(-1, formatBounded(buffer, 0, "x"));
  EXPECT_EQ(-1, formatBounded(nullptr, 8, "x"));
}

TEST(FixedStringW, WidensEachByteAndCuts) {
  _fixedStringW<10> w;
  w.assign("Processor Information");
  EXPECT_EQ(10, w.length);
  w.assign("ab");
  w.append("\xE9");
  EXPECT_EQ(0xE9, w.text[2]);  // no code-page conversion
  for (int i = 3; i <= 10; ++i) EXPECT_EQ(0, w.text[i]);
}

}  // namespace
}  // namespace ps
