#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void MainMenuSetItems(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void MainMenuUpdateItem(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void TrayMenuShowIcon(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void TrayMenuHideIcon(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void TrayMenuSetItems(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void TrayMenuUpdateItem(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
