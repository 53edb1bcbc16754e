#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void WindowGetStyle(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowSetStyle(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowGetState(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowSetState(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowGetTitle(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowSetTitle(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowGetZoom(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowSetZoom(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowGetSize(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void WindowSetSize(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
