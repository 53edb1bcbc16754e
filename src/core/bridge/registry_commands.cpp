#include "core/bridge/arguments.h"
#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"
#include "core/platform/registry.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

const char* Bool(bool value) { return value ? "true" : "false"; }

// The checks every registry command starts with, in this order. False when
// the request has been answered (or cannot be: no registry).
bool ReadKey(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data, std::string& key) {
  if (module.services().registry == nullptr) return false;
  key = GetStringArg(data, "key", "");
  if (key.empty()) {
    module.SendErrorResponse(uuid, TStrUtils::StringToJsonString("Missing registry key."));
    return false;
  }
  return true;
}

bool ReadKeyAndName(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data,
                    std::string& key, std::string& name) {
  if (!ReadKey(module, uuid, data, key)) return false;
  name = GetStringArg(data, "name", "");
  if (name.empty()) {
    module.SendErrorResponse(uuid, TStrUtils::StringToJsonString("Missing value name."));
    return false;
  }
  return true;
}

}  // namespace

void RegistryWriteValue(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  std::string key, name;
  if (!ReadKeyAndName(module, uuid, data, key, name)) return;
  // Read before the key is created, so that a value of the wrong JSON type
  // ends the request without leaving a new key behind.
  const std::string value = GetStringArg(data, "value", "");
  module.SendSuccessResponse(uuid, Bool(module.services().registry->WriteString(key, name, value)));
}

void RegistryReadValue(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  std::string key, name;
  if (!ReadKeyAndName(module, uuid, data, key, name)) return;
  module.SendSuccessResponse(uuid, TStrUtils::StringToJsonString(module.services().registry->ReadString(key, name)));
}

void RegistryValueExist(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  std::string key, name;
  if (!ReadKeyAndName(module, uuid, data, key, name)) return;
  module.SendSuccessResponse(uuid, Bool(module.services().registry->ValueExists(key, name)));
}

void RegistryDeleteValue(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  std::string key, name;
  if (!ReadKeyAndName(module, uuid, data, key, name)) return;
  module.SendSuccessResponse(uuid, Bool(module.services().registry->DeleteValue(key, name)));
}

void RegistryKeyExist(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  std::string key;
  if (!ReadKey(module, uuid, data, key)) return;
  module.SendSuccessResponse(uuid, Bool(module.services().registry->KeyExists(key)));
}

void RegistryDeleteKey(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  std::string key;
  if (!ReadKey(module, uuid, data, key)) return;
  module.SendSuccessResponse(uuid, Bool(module.services().registry->DeleteKey(key)));
}

}  // namespace vtl
