#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void Hello(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  module.SendSuccessResponse(uuid, "\"2023.1\"");
}
void IsRuntime(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  module.SendSuccessResponse(uuid, "true");
}
// No reply: the window closes.
void AppClose(TBrowserExternalModule& module, const std::string&, const JsonValue&) {
  if (module.OnAppCloseRequest) module.OnAppCloseRequest();
}
void AppInFullscreen(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void AppEnterFullscreen(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void AppExitFullscreen(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void AppGetArgs(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
