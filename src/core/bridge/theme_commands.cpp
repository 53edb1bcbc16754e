// themes.*: the active visual style, the list of styles, and switching.

#include "core/bridge/command_support.h"
#include "core/bridge/handlers.h"
#include "core/platform/style_service.h"
#include "core/str_utils.h"

namespace vtl {

void ThemesGetTheme(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  StyleService* styles = module.services().styles;
  if (styles == nullptr) return;
  module.SendSuccessResponse(uuid, TStrUtils::StringToJsonString(styles->GetActiveTheme()));
}

void ThemesGetThemes(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  StyleService* styles = module.services().styles;
  if (styles == nullptr) return;
  std::string result = "[";
  for (const std::string& name : styles->GetAvailables(true)) {
    if (result.size() > 1) result += ',';
    result += TStrUtils::StringToJsonString(name);
  }
  result += ']';
  module.SendSuccessResponse(uuid, result);
}

// True only when the active style then bears exactly the name asked for: a
// name in other letter case applies the style but answers false.
void ThemesSetTheme(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  StyleService* styles = module.services().styles;
  if (styles == nullptr) return;
  const std::string name = GetStringArg(data, "name", "");
  styles->TrySetStyle(name, false);
  module.SendSuccessResponse(uuid, BoolText(styles->GetActiveTheme() == name));
}

}  // namespace vtl
