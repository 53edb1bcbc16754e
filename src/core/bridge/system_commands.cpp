#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void SystemLogoff(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void SystemReboot(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void SystemShutdown(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void SystemNotification(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
