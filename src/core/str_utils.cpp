#include "core/str_utils.h"

#include <array>
#include <cstddef>

#include "core/mime_types.h"

namespace vtl {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point from [p, end), p < end. On an ill-formed sequence
// sets cp to U+FFFD and consumes the maximal subpart: the lead byte plus the
// continuation bytes that were still acceptable, never the offending byte.
size_t DecodeUtf8(const unsigned char* p, const unsigned char* end, char32_t& cp) {
  const unsigned lead = p[0];
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  size_t trail;
  unsigned lo = 0x80, hi = 0xBF;  // allowed range of the next byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;       // overlong
    else if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;       // overlong
    else if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    cp = kReplacement;
    return 1;
  }
  const size_t avail = static_cast<size_t>(end - p);
  for (size_t i = 1; i <= trail; ++i) {
    if (i >= avail || p[i] < lo || p[i] > hi) {
      cp = kReplacement;
      return i;
    }
    cp = (cp << 6) | (p[i] & 0x3F);
    lo = 0x80;
    hi = 0xBF;
  }
  return trail + 1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    const char b[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 2);
  } else if (cp < 0x10000) {
    const char b[3] = {static_cast<char>(0xE0 | (cp >> 12)),
                       static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 3);
  } else {
    const char b[4] = {static_cast<char>(0xF0 | (cp >> 18)),
                       static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                       static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 4);
  }
}

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// unitAt(i) yields code unit i of count units.
template <class UnitAt>
std::string Utf16UnitsToUtf8(size_t count, UnitAt unitAt) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const char32_t u = unitAt(i);
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(unitAt(i + 1))) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

// Windows-1252 0x80-0x9F; the undefined bytes keep their own value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char AsciiLowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// For ASCII bytes: 0 = copy, otherwise the letter after the backslash, or 'u'
// for a \u00XX escape.
constexpr std::array<char, 128> MakeJsonEscapes() {
  std::array<char, 128> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['"'] = '"';
  t['\\'] = '\\';
  t['/'] = '/';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  return t;
}
constexpr std::array<char, 128> kJsonEscapes = MakeJsonEscapes();

void AppendUnitEscape(std::string& out, char32_t unit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char b[6] = {'\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF],
                     kHex[(unit >> 4) & 0xF], kHex[unit & 0xF]};
  out.append(b, 6);
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p < end) {
    if (*p < 0x80) {
      out.push_back(*p++);
      continue;
    }
    char32_t cp;
    p += DecodeUtf8(p, end, cp);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  return Utf16UnitsToUtf8(utf16.size(), [utf16](size_t i) { return char32_t{utf16[i]}; });
}

std::string Utf16LeToUtf8(std::span<const uint8_t> bytes) {
  return Utf16UnitsToUtf8(bytes.size() / 2, [bytes](size_t i) {
    return static_cast<char32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  });
}

std::string Utf16BeToUtf8(std::span<const uint8_t> bytes) {
  return Utf16UnitsToUtf8(bytes.size() / 2, [bytes](size_t i) {
    return static_cast<char32_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
  });
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else if (b < 0xA0) {
      AppendUtf8(out, kCp1252High[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

bool AsciiIEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  }
  return true;
}

std::string TStrUtils::StringToJsonString(std::string_view value) {
  std::string out;
  out.reserve(value.size() + value.size() / 8 + 8);
  out.push_back('"');

  const auto* const begin = reinterpret_cast<const unsigned char*>(value.data());
  const auto* const end = begin + value.size();
  const auto* p = begin;
  const auto* copyFrom = p;  // start of the pending run copied through unchanged
  auto flush = [&] {
    out.append(reinterpret_cast<const char*>(copyFrom), static_cast<size_t>(p - copyFrom));
  };

  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      const char esc = kJsonEscapes[c];
      if (esc == 0) {
        ++p;
        continue;
      }
      flush();
      if (esc == 'u') {
        AppendUnitEscape(out, c);
      } else {
        const char b[2] = {'\\', esc};
        out.append(b, 2);
      }
      copyFrom = ++p;
      continue;
    }

    char32_t cp;
    const size_t n = DecodeUtf8(p, end, cp);
    if (cp < 0x20AC) {  // well-formed (U+FFFD is above), copied through as it is
      p += n;
      continue;
    }
    flush();
    if (cp < 0x10000) {
      AppendUnitEscape(out, cp);
    } else {
      AppendUnitEscape(out, 0xD800 + ((cp - 0x10000) >> 10));
      AppendUnitEscape(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
    p += n;
    copyFrom = p;
  }
  flush();
  out.push_back('"');
  return out;
}

std::vector<std::string> TStrUtils::ExplodeStrings(std::string_view Separator,
                                                   std::string_view Value) {
  std::vector<std::string> items;
  if (!Separator.empty()) {
    for (size_t at; (at = Value.find(Separator)) != std::string_view::npos;) {
      items.emplace_back(Value.substr(0, at));
      Value.remove_prefix(at + Separator.size());
    }
  }
  items.emplace_back(Value);
  return items;
}

std::string TStrUtils::GetFileMIMEType(const MimeTypeTable& table, std::string_view FileName) {
  return std::string(table.Find(FileName));
}

std::string TStrUtils::GetFileMIMEType(std::string_view FileName) {
  return GetFileMIMEType(MimeTypeTable::BuiltIn(), FileName);
}

}  // namespace vtl
