// The main menu (12001, 12002) and the tray icon with its menu (14001 to
// 14004). Both menus share the item model of core/menu_model.h.

#include "core/bridge/arguments.h"
#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"
#include "core/menu_model.h"
#include "core/platform/app_environment.h"
#include "core/platform/menus.h"

namespace vtl {
namespace {

constexpr std::string_view kTrue = "true";

// Whatever ends a change of the items (success, an error reply or a
// conversion error part-way), the platform then draws what the tree holds.
class ItemsChangedOnExit {
 public:
  explicit ItemsChangedOnExit(MenuTarget& menu) : menu_(menu) {}
  ~ItemsChangedOnExit() {
    try {
      menu_.ItemsChanged();
    } catch (...) {
      // Only an exhausted memory gets here; the next change draws again.
    }
  }
  ItemsChangedOnExit(const ItemsChangedOnExit&) = delete;
  ItemsChangedOnExit& operator=(const ItemsChangedOnExit&) = delete;

 private:
  MenuTarget& menu_;
};

// What building items of `menu` needs: its image names, the package, and the
// user's decimal separator for "enabled" numbers.
MenuContext ContextOf(TBrowserExternalModule& module, MenuTarget& menu, std::string_view imageNameFormat) {
  AppEnvironment* environment = module.services().environment;
  return {menu, imageNameFormat, module.ExeZip, environment != nullptr ? environment->DecimalSeparator() : "."};
}

// Clicks on the menus' leaves become page events of the module that built them.
void BindMainMenuClicks(TBrowserExternalModule& module, MenuTarget& menu) {
  menu.OnItemClick = [&module](long long id) { module.RaiseEvent(MainMenuItemClickEventScript(id)); };
}

void BindTrayClicks(TBrowserExternalModule& module, TrayService& tray) {
  tray.OnItemClick = [&module](long long id) { module.RaiseEvent(TrayMenuItemClickEventScript(id)); };
  tray.OnIconClick = [&module] { module.RaiseEvent(TrayIconClickEventScript()); };
}

// One element of a top-level item list. A malformed item anywhere below it
// empties the whole menu and is the request's only reply.
bool BuildItemOrEmptyMenu(TBrowserExternalModule& module, const std::string& uuid, const MenuContext& context,
                          const JsonValue& element, MenuItem& item) {
  if (BuildMenuItem(context, element, item)) return true;
  context.menu.Root().items.clear();
  module.SendErrorResponse(uuid, "\"Wrong menu item JSON\"");
  return false;
}

bool BuildMainMenuItem(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& element,
                       MenuItem& item) {
  MenuService& menu = *module.services().mainMenu;
  return BuildItemOrEmptyMenu(module, uuid, ContextOf(module, menu, kMainMenuImageNameFormat), element, item);
}

bool BuildTrayMenuItem(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& element,
                       MenuItem& item) {
  TrayService& menu = *module.services().tray;
  return BuildItemOrEmptyMenu(module, uuid, ContextOf(module, menu, kTrayMenuImageNameFormat), element, item);
}

using BuildItem = bool (*)(TBrowserExternalModule&, const std::string&, const JsonValue&, MenuItem&);

void SetMenuItems(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data, MenuTarget& menu,
                  MenuService* menuBar, BuildItem build) {
  const std::string text = GetStringArg(data, "items", "");
  if (text.empty()) {
    module.SendErrorResponse(uuid, "\"Missing menu items\"");
    return;
  }
  if (menuBar != nullptr) menuBar->AttachToMainWindow();

  ItemsChangedOnExit changed(menu);
  menu.Root().items.clear();
  menu.ClearImages();

  // Deeper nesting than the parser takes counts as text that is no JSON.
  const std::optional<JsonValue> list = ParseJson(text);
  if (!list || !list->IsArray()) {
    module.SendErrorResponse(uuid, "\"Wrong menu items JSON\"");
    return;
  }
  for (const JsonValue& element : list->items()) {
    if (!build(module, uuid, element, menu.Root().Add())) return;
  }
  module.SendSuccessResponse(uuid, kTrue);
}

void UpdateMenuItem(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data, MenuTarget& menu,
                    std::string_view imageNameFormat) {
  const std::string idText = GetStringArg(data, "id", "");
  if (idText.empty()) {
    module.SendErrorResponse(uuid, "\"Missing item ID\"");
    return;
  }
  int32_t id = -1;
  if (!ParseMenuItemId(idText, id)) id = -1;
  if (id == -1) {
    module.SendErrorResponse(uuid, "\"Wrong item ID\"");
    return;
  }
  if (menu.Root().items.empty()) {
    module.SendErrorResponse(uuid, "\"No menu items\"");
    return;
  }
  if (MenuItem* item = FindMenuItem(menu, id)) {
    ItemsChangedOnExit changed(menu);
    const std::string caption = GetStringArg(data, "caption", "");
    if (!caption.empty()) item->Caption = caption;
    const MenuContext context = ContextOf(module, menu, imageNameFormat);
    if (!GetStringArg(data, "enabled", "").empty())
      item->Enabled = GetBoolArg(data, "enabled", true, context.decimalSeparator);
    const std::string image = GetStringArg(data, "image", "");
    if (!image.empty()) LoadMenuItemImage(context, image, *item);
  }
  module.SendSuccessResponse(uuid, kTrue);
}

}  // namespace

void MainMenuSetItems(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  MenuService* menu = module.services().mainMenu;
  if (menu == nullptr) return;
  BindMainMenuClicks(module, *menu);
  SetMenuItems(module, uuid, data, *menu, menu, BuildMainMenuItem);
}

void MainMenuUpdateItem(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  MenuService* menu = module.services().mainMenu;
  if (menu == nullptr) return;
  UpdateMenuItem(module, uuid, data, *menu, kMainMenuImageNameFormat);
}

void TrayMenuShowIcon(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  TrayService* tray = module.services().tray;
  if (tray == nullptr) return;
  BindTrayClicks(module, *tray);
  tray->ShowIcon();
  module.SendSuccessResponse(uuid, kTrue);
}

void TrayMenuHideIcon(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  TrayService* tray = module.services().tray;
  if (tray == nullptr) return;
  tray->HideIcon();
  module.SendSuccessResponse(uuid, kTrue);
}

void TrayMenuSetItems(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  TrayService* tray = module.services().tray;
  if (tray == nullptr) return;
  BindTrayClicks(module, *tray);
  SetMenuItems(module, uuid, data, *tray, nullptr, BuildTrayMenuItem);
}

void TrayMenuUpdateItem(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  TrayService* tray = module.services().tray;
  if (tray == nullptr) return;
  UpdateMenuItem(module, uuid, data, *tray, kTrayMenuImageNameFormat);
}

}  // namespace vtl
