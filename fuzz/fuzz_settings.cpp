// Settings text over arbitrary bytes: decode by byte-order mark, parse the
// INI document, read the [App] settings and every key present. The reads are
// checked against a plain scan of the parsed sections.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "core/str_utils.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_settings: invariant broken: %s\n", what);
    std::abort();
  }
}

// Well-formed UTF-8: shortest forms only, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp, min;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    for (size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size()) return false;
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

bool Blank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// What a lookup must find: the first section of that name, and in it the
// first line with a value and that key.
const std::string* Expected(const vtl::IniDocument& ini, std::string_view section, std::string_view key) {
  for (const auto& s : ini.Sections()) {
    if (!vtl::AsciiIEquals(s.name, section)) continue;
    for (const auto& l : s.lines)
      if (l.hasValue && vtl::AsciiIEquals(l.key, key)) return &l.value;
    return nullptr;
  }
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const std::string text = vtl::DecodeSettingsText(bytes);
  const bool utf8Mark = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
  // Everything but UTF-8 input is converted, and a conversion yields UTF-8.
  if (!utf8Mark) Require(IsUtf8(text), "decoded settings text is UTF-8");

  vtl::IniDocument ini;
  ini.Load(text);

  constexpr size_t kMaxLookups = 128;
  size_t lookups = 0;
  const auto& sections = ini.Sections();
  for (size_t i = 0; i < sections.size(); ++i) {
    const auto& s = sections[i];
    for (size_t j = 0; j < i; ++j)
      Require(!vtl::AsciiIEquals(sections[j].name, s.name), "sections of one name are merged");
    Require(s.name.find_first_of("\r\n") == std::string::npos, "no line break in a section name");
    for (const auto& l : s.lines) {
      Require(!l.key.empty() || l.hasValue, "a line without '=' has a key");
      Require(l.key.find_first_of("\r\n") == std::string::npos && l.value.find_first_of("\r\n") == std::string::npos,
              "no line break in a key or value");
      Require(l.key.empty() || (!Blank(l.key.front()) && !Blank(l.key.back())), "keys are trimmed");
      Require(l.key.empty() || l.key.front() != ';', "comment lines are not kept");
      Require(l.value.empty() || (!Blank(l.value.front()) && !Blank(l.value.back())), "values are trimmed");
      if (!l.hasValue) Require(l.value.empty(), "a line without '=' has no value");

      // Each lookup scans the document: checking every line of a long input
      // would be quadratic and slow the fuzzer down for little gain.
      if (++lookups > kMaxLookups) continue;
      const std::string* want = Expected(ini, s.name, l.key);
      const std::string got = ini.ReadString(s.name, l.key, "\x01");
      if (want) {
        Require(got == *want, "ReadString finds the first line of the key");
        int32_t n = 0;
        const int32_t def = 0x5EED;
        const int32_t expected = vtl::ParseSettingsInteger(*want, n) ? n : def;
        Require(ini.ReadInteger(s.name, l.key, def) == expected, "ReadInteger converts the found value");
        Require(ini.ReadBool(s.name, l.key, true) == (ini.ReadInteger(s.name, l.key, 1) != 0),
                "ReadBool is ReadInteger");
      } else {
        Require(got == "\x01", "a key without a value line reads as the default");
        Require(ini.ReadInteger(s.name, l.key, 0x5EED) == 0x5EED, "a missing key reads as the default integer");
      }
    }
  }

  // What start-up reads; and the strings come out unchanged.
  const vtl::AppSettings app = vtl::AppSettings::Read(ini);
  for (const auto& k : vtl::AppSettingKeys()) {
    if (k.type != vtl::AppSettingKey::Type::String) continue;
    const std::string* v = Expected(ini, vtl::kAppSection, k.name);
    Require(app.*k.text == (v ? *v : std::string(k.defaultString)), "AppSettings strings are the [App] values");
  }
  return 0;
}
