#pragma once

#include "core/platform/registry.h"

namespace vtl::win32 {

// The registry commands' store: string values under HKEY_CURRENT_USER, in
// the process's own registry view. Every call opens its own handle and closes
// it before it returns.
class Win32RegistryService final : public RegistryService {
 public:
  Win32RegistryService() = default;

  bool WriteString(const std::string& key, const std::string& name, const std::string& value) override;
  std::string ReadString(const std::string& key, const std::string& name) override;
  bool ValueExists(const std::string& key, const std::string& name) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;
  bool KeyExists(const std::string& key) override;
  bool DeleteKey(const std::string& key) override;
};

}  // namespace vtl::win32
