#include "core/str_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vtl {
namespace {

using namespace std::string_literals;

std::u16string Units(std::initializer_list<char16_t> units) { return std::u16string(units); }

// Every BMP scalar value, then supplementary ones at a stride that still
// varies every bit of both surrogates, ending with U+10FFFF; built directly as
// UTF-16 code units, with the length their UTF-8 form must have.
struct ScalarSample {
  std::u16string utf16;
  size_t utf8Length = 0;
};

ScalarSample SampleScalarValues() {
  ScalarSample s;
  auto add = [&s](char32_t cp) {
    if (cp < 0x10000) {
      s.utf16.push_back(static_cast<char16_t>(cp));
      s.utf8Length += cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3;
    } else {
      s.utf16.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      s.utf16.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      s.utf8Length += 4;
    }
  };
  for (char32_t cp = 0; cp < 0x10000; ++cp) {
    if (cp < 0xD800 || cp > 0xDFFF) add(cp);
  }
  for (char32_t cp = 0x10000; cp < 0x10FFFF; cp += 0x1FF) add(cp);
  add(0x10FFFF);
  return s;
}

// ---------------------------------------------------------------------------
// StringToJsonString

struct JsonCase {
  const char* name;
  std::string input;
  std::string expected;
  bool wellFormed;  // input is valid UTF-8, so a JSON parser must give it back
};

const std::vector<JsonCase>& JsonCases() {
  static const std::vector<JsonCase> cases = {
      {"empty", "", R"("")", true},
      {"plain ascii", "Hello, World!", R"("Hello, World!")", true},
      {"quote backslash slash", R"(a"b\c/d)", R"("a\"b\\c\/d")", true},
      {"short escapes", "\b\t\n\f\r", R"("\b\t\n\f\r")", true},
      {"embedded nul", "a\0b"s, R"("a\u0000b")", true},
      {"other controls in upper-case hex", "\x01\x0B\x1B\x1F", R"("\u0001\u000B\u001B\u001F")", true},
      {"space and DEL stay raw", " ~\x7F", "\" ~\x7F\"", true},
      {"e acute stays raw", "caf\xC3\xA9", "\"caf\xC3\xA9\"", true},
      {"C1 control stays raw", "\xC2\x80", "\"\xC2\x80\"", true},
      {"U+20AB stays raw", "\xE2\x82\xAB", "\"\xE2\x82\xAB\"", true},
      {"U+20AC escaped", "\xE2\x82\xAC", R"("\u20AC")", true},
      {"U+D7FF escaped", "\xED\x9F\xBF", R"("\uD7FF")", true},
      {"U+FFFD escaped", "\xEF\xBF\xBD", R"("\uFFFD")", true},
      {"U+FFFF escaped", "\xEF\xBF\xBF", R"("\uFFFF")", true},
      {"emoji as surrogate pair", "\xF0\x9F\x98\x80", R"("\uD83D\uDE00")", true},
      {"U+10FFFF as surrogate pair", "\xF4\x8F\xBF\xBF", R"("\uDBFF\uDFFF")", true},
      {"escapes between raw runs", "ab/cd\xE2\x82\xAC" "ef\xC3\xA9gh",
       R"("ab\/cd\u20ACef)" "\xC3\xA9" R"(gh")", true},
      {"invalid byte", "\xFF", R"("\uFFFD")", false},
      {"lone continuation byte", "a\x80" "b", R"("a\uFFFDb")", false},
      {"truncated at end", "a\xE2\x82", R"("a\uFFFD")", false},
      {"truncated before ascii", "\xE2\x82" "A", R"("\uFFFDA")", false},
      {"overlong", "\xC0\xAF", R"("\uFFFD\uFFFD")", false},
      {"encoded surrogate", "\xED\xA0\x80", R"("\uFFFD\uFFFD\uFFFD")", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", R"("\uFFFD\uFFFD\uFFFD\uFFFD")", false},
  };
  return cases;
}

TEST(StringToJsonString, EscapesEachCodeUnitByItsRule) {
  for (const JsonCase& c : JsonCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TStrUtils::StringToJsonString(c.input), c.expected);
  }
}

TEST(StringToJsonString, JsonParserReadsBackTheInput) {
  for (const JsonCase& c : JsonCases()) {
    if (!c.wellFormed) continue;
    SCOPED_TRACE(c.name);
    EXPECT_EQ(nlohmann::json::parse(TStrUtils::StringToJsonString(c.input)).get<std::string>(),
              c.input);
  }
}

// ---------------------------------------------------------------------------
// UTF-8 / UTF-16

TEST(Utf, ScalarValuesRoundTrip) {
  const ScalarSample sample = SampleScalarValues();
  const std::string utf8 = Utf16ToUtf8(sample.utf16);

  EXPECT_EQ(utf8.size(), sample.utf8Length);
  EXPECT_NO_THROW((void)nlohmann::json(utf8).dump());  // the serializer rejects invalid UTF-8
  EXPECT_TRUE(Utf8ToUtf16(utf8) == sample.utf16);
  EXPECT_TRUE(nlohmann::json::parse(TStrUtils::StringToJsonString(utf8)).get<std::string>() ==
              utf8);
}

TEST(Utf8ToUtf16, EachIllFormedPartBecomesOneReplacement) {
  struct Case {
    const char* name;
    std::string input;
    std::u16string expected;
  };
  const Case cases[] = {
      {"lone continuation", "\x80", u"\uFFFD"},
      {"byte FF between letters", "a\xFF" "b", u"a\uFFFDb"},
      {"C0 overlong", "\xC0\x80", u"\uFFFD\uFFFD"},
      {"C1 overlong", "\xC1\xBF", u"\uFFFD\uFFFD"},
      {"three-byte overlong", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"four-byte overlong", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"high surrogate encoded", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"low surrogate encoded", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
      {"just above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"lead F5", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"two-byte truncated at end", "a\xC3", u"a\uFFFD"},
      {"three-byte truncated at end", "\xE2\x82", u"\uFFFD"},
      {"four-byte truncated before ascii", "\xF0\x9F\x98" "A", u"\uFFFDA"},
      {"truncated then complete", "\xE2\x82\xE2\x82\xAC", u"\uFFFD\u20AC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Utf8ToUtf16(c.input) == c.expected);
  }
}

// The bytes past the end of the view would complete the sequence; they must
// not be looked at. Each prefix is also copied to an allocation of exactly its
// size, so that a sanitizer build catches a read past it.
TEST(Utf8ToUtf16, TruncatedSequenceNeverReadsPastTheEnd) {
  const std::string full = "\xF0\x9F\x98\x80";
  for (size_t len = 1; len < full.size(); ++len) {
    SCOPED_TRACE(len);
    EXPECT_TRUE(Utf8ToUtf16(std::string_view(full.data(), len)) == u"\uFFFD");
    EXPECT_EQ(TStrUtils::StringToJsonString(std::string_view(full.data(), len)), R"("\uFFFD")");

    auto exact = std::make_unique<char[]>(len);
    std::copy_n(full.data(), len, exact.get());
    EXPECT_TRUE(Utf8ToUtf16(std::string_view(exact.get(), len)) == u"\uFFFD");
    EXPECT_EQ(TStrUtils::StringToJsonString(std::string_view(exact.get(), len)), R"("\uFFFD")");
  }
}

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacement) {
  struct Case {
    const char* name;
    std::u16string input;
    std::string expected;
  };
  const Case cases[] = {
      {"pair", Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
      {"high at end", Units({u'A', 0xD83D}), "A\xEF\xBF\xBD"},
      {"high before ascii", Units({0xD83D, u'A'}), "\xEF\xBF\xBD" "A"},
      {"lone low", Units({0xDE00}), "\xEF\xBF\xBD"},
      {"low then high", Units({0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"high, then a pair", Units({0xD83D, 0xD83D, 0xDE00}), "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf16ToUtf8(c.input), c.expected);
  }
}

TEST(Utf16BytesToUtf8, ReadsBothByteOrders) {
  struct Case {
    const char* name;
    std::vector<uint8_t> littleEndian;
    std::string expected;
  };
  const Case cases[] = {
      {"empty", {}, ""},
      {"ascii and euro", {0x41, 0x00, 0xAC, 0x20}, "A\xE2\x82\xAC"},
      {"nul unit kept", {0x00, 0x00, 0x41, 0x00}, "\0A"s},
      {"surrogate pair", {0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
      {"unpaired surrogate", {0x3D, 0xD8, 0x41, 0x00}, "\xEF\xBF\xBD" "A"},
      {"odd trailing byte dropped", {0x41, 0x00, 0x42}, "A"},
      {"single byte", {0x41}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bigEndian = c.littleEndian;
    for (size_t i = 0; i + 1 < bigEndian.size(); i += 2) std::swap(bigEndian[i], bigEndian[i + 1]);
    EXPECT_EQ(Utf16LeToUtf8(c.littleEndian), c.expected);
    EXPECT_EQ(Utf16BeToUtf8(bigEndian), c.expected);
  }
}

// ---------------------------------------------------------------------------
// Windows-1252

TEST(Cp1252ToUtf8, DecodesTheWholeHighRange) {
  std::string c1;
  for (int b = 0x80; b <= 0x9F; ++b) c1.push_back(static_cast<char>(b));
  EXPECT_EQ(Cp1252ToUtf8(c1),
            "\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021"
            "\u02C6\u2030\u0160\u2039\u0152\u008D\u017D\u008F"
            "\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014"
            "\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178");

  EXPECT_EQ(Cp1252ToUtf8("A\0~\x7F"s), "A\0~\x7F"s);
  EXPECT_EQ(Cp1252ToUtf8("\xA0\xE9\xFF"), "\u00A0\u00E9\u00FF");
}

// ---------------------------------------------------------------------------
// ASCII case

TEST(AsciiCase, OnlyLettersFold) {
  EXPECT_EQ(AsciiLower("Content-TYPE_09@[`{\xC3\x89"), "content-type_09@[`{\xC3\x89");

  struct Case {
    std::string_view a, b;
    bool equal;
  };
  const Case cases[] = {
      {"Content-Length", "content-length", true},
      {"", "", true},
      {"abc", "abcd", false},
      {"@", "`", false},  // 0x40 / 0x60 differ only in the case bit
      {"[", "{", false},
      {"\xC3\x89", "\xC3\xA9", false},  // É / é: not ASCII
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
    EXPECT_EQ(AsciiIEquals(c.a, c.b), c.equal);
  }
}

// ---------------------------------------------------------------------------
// ExplodeStrings

TEST(ExplodeStrings, SplitsAtEveryOccurrence) {
  struct Case {
    std::string_view separator, value;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {";", "a;b;c", {"a", "b", "c"}},
      {";", "a;b;", {"a", "b", ""}},
      {";", ";", {"", ""}},
      {";", ";;a", {"", "", "a"}},
      {";", "", {""}},
      {";", "abc", {"abc"}},
      {"||", "a||b", {"a", "b"}},
      {"||", "a|||b", {"a", "|b"}},
      {"aa", "aaa", {"", "a"}},
      {"", "abc", {"abc"}},
      {"", "", {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + std::string(c.separator) + "' in '" + std::string(c.value) + "'");
    EXPECT_EQ(TStrUtils::ExplodeStrings(c.separator, c.value), c.expected);
  }
}

}  // namespace
}  // namespace vtl
