#include "win32/bridge_services.h"

#include "win32/bridge/styles.h"
#include "win32/main_form.h"
#include "win32/module_image.h"

namespace vtl::win32 {

BridgeServiceSet::BridgeServiceSet(TMainForm& mainForm, StyleManager& styles)
    : adapters(mainForm.Handle(), styles),
      notifications(RunningModulePath().wstring()),
      externalForm(std::make_unique<TBrowserExternalForm>(mainForm.Handle())) {
  AttachBridgeAdapters(adapters, services);
  services.webView = &mainForm;
  services.shell = &shell;
  services.power = &power;
  services.registry = &registry;
  services.notifications = &notifications;
  services.mainMenu = &externalForm->MainMenu();
  services.tray = &externalForm->Tray();
}

std::unique_ptr<BridgeServiceSet> CreateBridgeServices(TMainForm& mainForm, StyleManager& styles) {
  auto set = std::make_unique<BridgeServiceSet>(mainForm, styles);
  ApplyStyleToWindow(mainForm.Handle());
  return set;
}

void ConnectBridgeModule(BridgeServiceSet& set, TBrowserExternalModule& module) {
  set.notifications.SetClickHandler(
      [&module](const std::string& name) { module.NotificationCenterReceiveLocalNotification(name); });
  TrayService* tray = set.services.tray;
  module.TrayIconShown = [tray] { return tray != nullptr && tray->IconVisible(); };
}

}  // namespace vtl::win32
