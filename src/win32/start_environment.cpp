#include "win32/start_environment.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace vtl::win32 {
namespace {

using Value = std::optional<std::wstring>;
constexpr size_t kCount = std::size(kStartupWebView2Variables);

Value Read(const wchar_t* name) {
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? Value() : Value(std::wstring());
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

void Write(const wchar_t* name, const Value& value) {
  SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

std::array<Value, kCount>& Noted() {
  static std::array<Value, kCount> values;
  static bool taken = [] {
    for (size_t i = 0; i < kCount; ++i) values[i] = Read(kStartupWebView2Variables[i]);
    return true;
  }();
  (void)taken;
  return values;
}

bool IsStartupVariable(std::wstring_view entry) {
  const size_t equals = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
  const std::wstring_view name = entry.substr(0, equals);
  return std::any_of(std::begin(kStartupWebView2Variables), std::end(kStartupWebView2Variables),
                     [&](const wchar_t* v) { return CompareStringOrdinal(name.data(), static_cast<int>(name.size()), v, -1, TRUE) == CSTR_EQUAL; });
}

}  // namespace

void RememberStartEnvironment() {
  auto& values = Noted();
  for (size_t i = 0; i < kCount; ++i) values[i] = Read(kStartupWebView2Variables[i]);
}

std::wstring StartEnvironmentBlock() {
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1)
      if (!IsStartupVariable(p)) entries.emplace_back(p);
    FreeEnvironmentStringsW(block);
  }
  const auto& values = Noted();
  for (size_t i = 0; i < kCount; ++i)
    if (values[i]) entries.push_back(std::wstring(kStartupWebView2Variables[i]) + L"=" + *values[i]);
  // CreateProcessW wants the block sorted by name, without regard to case.
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    const auto name = [](const std::wstring& e) { return std::wstring_view(e).substr(0, e.find(L'=', 1)); };
    const auto x = name(a), y = name(b);
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()), TRUE) ==
           CSTR_LESS_THAN;
  });
  std::wstring out;
  for (const auto& e : entries) {
    out += e;
    out += L'\0';
  }
  out += L'\0';
  return out;
}

StartEnvironmentScope::StartEnvironmentScope() {
  const auto& values = Noted();
  for (size_t i = 0; i < kCount; ++i) {
    saved_.push_back(Read(kStartupWebView2Variables[i]));
    Write(kStartupWebView2Variables[i], values[i]);
  }
}

StartEnvironmentScope::~StartEnvironmentScope() {
  for (size_t i = 0; i < kCount; ++i) Write(kStartupWebView2Variables[i], saved_[i]);
}

}  // namespace vtl::win32
