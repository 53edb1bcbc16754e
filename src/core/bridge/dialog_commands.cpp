#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void DialogsOpenFile(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void DialogsSaveFile(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void DialogsSelFolder(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
