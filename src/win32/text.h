#pragma once

#include <string>
#include <string_view>

namespace vtl::win32 {

// The one place where UTF-8 text of the core meets the UTF-16 of Win32 calls.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// Bytes in the system's ANSI code page, as UTF-8.
std::string AnsiToUtf8(std::string_view bytes);

}  // namespace vtl::win32
