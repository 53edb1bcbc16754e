// window.*: stay-on-top style, state, caption, zoom, position and size of the
// main window. None of them answers with an error.

#include <charconv>

#include "core/bridge/command_support.h"
#include "core/bridge/handlers.h"
#include "core/bridge/number_text.h"
#include "core/platform/app_environment.h"
#include "core/platform/window_service.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

bool TrayIconShown(const TBrowserExternalModule& module) {
  return module.TrayIconShown && module.TrayIconShown();
}

}  // namespace

void WindowGetStyle(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  WindowService* window = module.services().window;
  if (window == nullptr) return;
  module.SendSuccessResponse(uuid, window->StaysOnTop() ? "\"ontop\"" : "\"normal\"");
}

void WindowSetStyle(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  WindowService* window = module.services().window;
  if (window == nullptr) return;
  window->SetStaysOnTop(GetStringArg(data, "style", "normal") == "ontop");
  module.SendSuccessResponse(uuid, "true");
}

void WindowGetState(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  WindowService* window = module.services().window;
  if (window == nullptr) return;
  switch (window->State()) {
    case WindowState::Minimized: module.SendSuccessResponse(uuid, "\"minimized\""); break;
    case WindowState::Maximized: module.SendSuccessResponse(uuid, "\"maximized\""); break;
    default: module.SendSuccessResponse(uuid, "\"normal\""); break;
  }
}

void WindowSetState(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  WindowService* window = module.services().window;
  if (window == nullptr) return;
  const std::string state = GetStringArg(data, "state", "normal");
  if (state == "normal" || state == "maximized") {
    window->SetState(state == "normal" ? WindowState::Normal : WindowState::Maximized);
    if (TrayIconShown(module)) window->ShowAndBringToFront();
  } else if (state == "minimized") {
    window->SetState(WindowState::Minimized);
    // With the tray icon shown, the window leaves the taskbar.
    if (TrayIconShown(module)) window->Hide();
  }
  module.SendSuccessResponse(uuid, "true");
}

void WindowGetTitle(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  WindowService* window = module.services().window;
  if (window == nullptr) return;
  module.SendSuccessResponse(uuid, TStrUtils::StringToJsonString(window->Caption()));
}

void WindowSetTitle(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  WindowService* window = module.services().window;
  if (window == nullptr) return;
  window->SetCaption(GetStringArg(data, "title", ""));
  module.SendSuccessResponse(uuid, "true");
}

// The factor in the user's regional format, inside a JSON string.
void WindowGetZoom(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  WebViewPort* webView = module.services().webView;
  if (webView == nullptr) return;
  AppEnvironment* environment = module.services().environment;
  const std::string separator = environment != nullptr ? environment->DecimalSeparator() : ".";
  module.SendSuccessResponse(uuid,
                             TStrUtils::StringToJsonString(FormatGeneralFloat(webView->ZoomFactor(), separator)));
}

// Read with "." only; anything else resets to 100 % and answers false.
void WindowSetZoom(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  WebViewPort* webView = module.services().webView;
  if (webView == nullptr) return;
  double factor = 0;
  const bool isNumber = TryParseDotFloat(GetStringArg(data, "factor", ""), factor);
  webView->SetZoomFactor(isNumber ? factor : 1.0);
  module.SendSuccessResponse(uuid, BoolText(isNumber));
}

void WindowGetSize(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  WindowService* window = module.services().window;
  if (window == nullptr) return;
  const WindowBounds b = window->Bounds();
  // {"top": %d, "left": %d, "width": %d, "height": %d}
  std::string text;
  text.reserve(96);
  for (auto [name, value] : {std::pair{"{\"top\": ", b.top}, std::pair{", \"left\": ", b.left},
                             std::pair{", \"width\": ", b.width}, std::pair{", \"height\": ", b.height}}) {
    text += name;
    char digits[16];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  }
  text += '}';
  module.SendSuccessResponse(uuid, text);
}

void WindowSetSize(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  WindowService* window = module.services().window;
  if (window == nullptr) return;
  WindowBounds bounds = window->Bounds();
  // Each member defaults to its current value; the order of reading is fixed.
  for (auto [key, value] : {std::pair{"top", &bounds.top}, std::pair{"left", &bounds.left},
                            std::pair{"width", &bounds.width}, std::pair{"height", &bounds.height}}) {
    *value = LeadingInt32(GetStringArg(data, key, std::to_string(*value)));
  }
  window->SetBounds(bounds);
  module.SendSuccessResponse(uuid, "true");
}

}  // namespace vtl
