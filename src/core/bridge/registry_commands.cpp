#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void RegistryWriteValue(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void RegistryReadValue(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void RegistryValueExist(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void RegistryDeleteValue(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void RegistryKeyExist(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void RegistryDeleteKey(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
