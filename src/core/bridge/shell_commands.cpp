#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void ShellExecute(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void ShellExplore(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void ShellCommand(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void ShellWindows(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
