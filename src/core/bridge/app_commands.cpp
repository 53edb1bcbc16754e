// hello, isRuntime and app.*: the host's version, closing, full-screen mode
// and the command line.

#include "core/bridge/command_support.h"
#include "core/bridge/handlers.h"
#include "core/command_line.h"
#include "core/platform/app_environment.h"
#include "core/platform/window_service.h"
#include "core/settings.h"
#include "core/str_utils.h"

namespace vtl {

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

void AppInFullscreen(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  module.SendSuccessResponse(uuid, BoolText(module.InFullscreen));
}

// No reply. Borderless and maximized, once.
void AppEnterFullscreen(TBrowserExternalModule& module, const std::string&, const JsonValue&) {
  WindowService* window = module.services().window;
  if (window == nullptr || module.InFullscreen) return;
  module.InFullscreen = true;
  window->SetBorderStyle(static_cast<int32_t>(BorderStyle::None));
  window->SetState(WindowState::Maximized);
}

// No reply. Normal state, then the border of the settings.
void AppExitFullscreen(TBrowserExternalModule& module, const std::string&, const JsonValue&) {
  WindowService* window = module.services().window;
  if (window == nullptr || !module.InFullscreen) return;
  module.InFullscreen = false;
  window->SetState(WindowState::Normal);
  const int32_t border = module.ProjectINI != nullptr
                             ? module.ProjectINI->ReadInteger(kAppSection, "WindowBorder", 2)
                             : static_cast<int32_t>(BorderStyle::Sizeable);
  window->SetBorderStyle(border);
}

void AppGetArgs(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  AppEnvironment* environment = module.services().environment;
  if (environment == nullptr) return;
  std::string result = "[" + TStrUtils::StringToJsonString(environment->ModuleFileName());
  for (const std::string& argument : CommandLineArguments(environment->CommandLine())) {
    result += ',';
    result += TStrUtils::StringToJsonString(argument);
  }
  result += ']';
  module.SendSuccessResponse(uuid, result);
}

}  // namespace vtl
