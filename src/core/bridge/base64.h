#pragma once

// The Base64 decoding of base64.decodeToFile.

#include <string>
#include <string_view>

namespace vtl {

// Standard alphabet, "=" as padding. The text is taken in groups of four
// characters, each giving three bytes; characters after the last complete
// group are ignored. When the last character of the complete groups is "=",
// one byte is dropped from the end, when the one before it is "=" too, two.
// Every other character, blanks and line breaks included, counts as a
// character of its group and reads as the value 0.
std::string DecodeBase64(std::string_view text);

}  // namespace vtl
