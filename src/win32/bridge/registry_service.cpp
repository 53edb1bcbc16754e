#include "win32/bridge/registry_service.h"

#include <windows.h>

#include <vector>

#include "win32/registry_key.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

// The subkey path below HKEY_CURRENT_USER, one leading backslash dropped.
// Empty when the text names the root itself, which no command may open.
std::wstring SubkeyPath(const std::string& key) {
  std::wstring path = Widen(key);
  if (!path.empty() && path.front() == L'\\') path.erase(0, 1);
  return path;
}

RegistryKey OpenForChange(const std::wstring& path) {
  if (path.empty()) return {};
  return RegistryKey::Open(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS);
}

// Subkeys from the last to the first in enumeration order, each with its own
// subkeys first, then the key itself.
bool DeleteTree(const std::wstring& path) {
  {
    const RegistryKey key = RegistryKey::Open(HKEY_CURRENT_USER, path, KEY_READ);
    if (!key) return false;
    std::vector<std::wstring> subkeys;
    while (auto name = key.SubkeyName(static_cast<DWORD>(subkeys.size()))) subkeys.push_back(std::move(*name));
    for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) DeleteTree(path + L"\\" + *it);
  }
  return RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()) == ERROR_SUCCESS;
}

}  // namespace

bool Win32RegistryService::WriteString(const std::string& key, const std::string& name, const std::string& value) {
  const std::wstring path = SubkeyPath(key);
  if (path.empty()) return false;
  const RegistryKey opened = RegistryKey::Create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS);
  if (!opened) return false;
  const std::wstring data = Widen(value);
  const std::wstring valueName = Widen(name);
  const LONG result =
      RegSetValueExW(opened.get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  if (result != ERROR_SUCCESS) throw ERegistryException("Failed to set data for '" + name + "'");
  return true;
}

std::string Win32RegistryService::ReadString(const std::string& key, const std::string& name) {
  const RegistryKey opened = OpenForChange(SubkeyPath(key));
  if (!opened) return {};
  const std::wstring valueName = Widen(name);
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(opened.get(), valueName.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return {};
  if (bytes == 0) return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException("Invalid data type for '" + name + "'");
  return Narrow(opened.StringValue(valueName.c_str()).value_or(L""));
}

bool Win32RegistryService::ValueExists(const std::string& key, const std::string& name) {
  const RegistryKey opened = OpenForChange(SubkeyPath(key));
  if (!opened) return false;
  const std::wstring valueName = Widen(name);
  return RegQueryValueExW(opened.get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool Win32RegistryService::DeleteValue(const std::string& key, const std::string& name) {
  const RegistryKey opened = OpenForChange(SubkeyPath(key));
  if (!opened) return false;
  const std::wstring valueName = Widen(name);
  return RegDeleteValueW(opened.get(), valueName.c_str()) == ERROR_SUCCESS;
}

bool Win32RegistryService::KeyExists(const std::string& key) {
  const std::wstring path = SubkeyPath(key);
  return !path.empty() && RegistryKey::Open(HKEY_CURRENT_USER, path, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
}

bool Win32RegistryService::DeleteKey(const std::string& key) {
  if (!KeyExists(key)) return false;
  return DeleteTree(SubkeyPath(key));
}

}  // namespace vtl::win32
