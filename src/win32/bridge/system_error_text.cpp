#include "win32/bridge/system_error_text.h"

#include <windows.h>

#include <string_view>

#include "win32/text.h"

namespace vtl::win32 {

std::string SystemErrorMessage(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : L"System error " + std::to_wstring(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return Narrow(message);
}

std::string SystemErrorText(unsigned long code) {
  std::string message = SystemErrorMessage(code);
  while (!message.empty() && std::string_view(" \t\r\n.").find(message.back()) != std::string_view::npos)
    message.pop_back();
  return message;
}

}  // namespace vtl::win32
