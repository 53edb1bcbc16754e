#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void ThemesGetTheme(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void ThemesGetThemes(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void ThemesSetTheme(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
