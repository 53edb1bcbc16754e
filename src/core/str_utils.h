#pragma once

// Text conversion and string helpers. Text inside the core is UTF-8; UTF-16 is
// used only where a rule is defined on UTF-16 code units.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vtl {

class MimeTypeTable;

// Each ill-formed part of the input (a byte that cannot start a sequence, or
// the longest prefix of a sequence that cannot be completed: truncated,
// overlong, an encoded surrogate, above U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Windows-1252. The five bytes without a character (0x81 0x8D 0x8F 0x90 0x9D)
// map to the code point of the same value.
std::string Cp1252ToUtf8(std::string_view bytes);

// Byte pairs to code units; an odd trailing byte is dropped, unpaired
// surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const uint8_t> bytes);
std::string Utf16BeToUtf8(std::span<const uint8_t> bytes);

// Only A-Z / a-z fold; every other byte is left or compared as it is.
std::string AsciiLower(std::string_view text);
bool AsciiIEquals(std::string_view a, std::string_view b);

struct TStrUtils {
  TStrUtils() = delete;

  // A JSON string literal, quotes included. Escapes are decided per UTF-16
  // code unit: '"' '\' '/' and controls below U+0020 are escaped, as is every
  // unit from U+20AC up (so characters outside the BMP become two \uXXXX);
  // everything else is copied through as UTF-8.
  static std::string StringToJsonString(std::string_view value);

  // Splits at every occurrence of Separator, left to right: always one item
  // more than separators found, empty items kept. An empty Separator never
  // matches.
  static std::vector<std::string> ExplodeStrings(std::string_view Separator,
                                                 std::string_view Value);

  static std::string GetFileMIMEType(const MimeTypeTable& table, std::string_view FileName);
  // Built-in table only.
  static std::string GetFileMIMEType(std::string_view FileName);
};

}  // namespace vtl
