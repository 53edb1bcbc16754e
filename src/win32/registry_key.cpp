#include "win32/registry_key.h"

#include <utility>

namespace vtl::win32 {

RegistryKey RegistryKey::Open(HKEY parent, const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return {};
  return RegistryKey(key);
}

RegistryKey RegistryKey::Create(HKEY parent, const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return {};
  return RegistryKey(key);
}

RegistryKey::~RegistryKey() {
  if (key_) RegCloseKey(key_);
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    if (key_) RegCloseKey(key_);
    key_ = std::exchange(other.key_, nullptr);
  }
  return *this;
}

std::optional<std::wstring> RegistryKey::SubkeyName(DWORD index) const {
  wchar_t name[256];  // the longest key name the registry allows, plus one
  DWORD length = 256;
  if (RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return {};
  return std::wstring(name, length);
}

std::optional<std::wstring> RegistryKey::StringValue(const wchar_t* name) const {
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes) != ERROR_SUCCESS)
    return {};
  value.resize(bytes / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return value;
}

}  // namespace vtl::win32
