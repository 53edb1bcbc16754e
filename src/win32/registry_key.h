#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vtl::win32 {

// An open registry key, closed when it goes out of scope.
class RegistryKey {
 public:
  RegistryKey() = default;
  static RegistryKey Open(HKEY parent, const std::wstring& path, REGSAM access = KEY_READ);
  // Opens the key, creating it and every missing key on its path.
  static RegistryKey Create(HKEY parent, const std::wstring& path, REGSAM access);
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

  // The name of the index-th subkey, or nothing past the last one.
  std::optional<std::wstring> SubkeyName(DWORD index) const;
  // A REG_SZ or REG_EXPAND_SZ value as stored; nothing when absent or of another type.
  std::optional<std::wstring> StringValue(const wchar_t* name) const;

 private:
  explicit RegistryKey(HKEY key) : key_(key) {}
  HKEY key_ = nullptr;
};

}  // namespace vtl::win32
