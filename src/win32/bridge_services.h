#pragma once

// The one place where the bridge module's services are put together for the
// Windows build: every adapter the commands reach, owned here, borrowed by the
// module through BridgeServices.

#include <memory>

#include "core/bridge/browser_external_module.h"
#include "win32/bridge/bridge_adapters.h"
#include "win32/bridge/power_service.h"
#include "win32/bridge/registry_service.h"
#include "win32/bridge/shell_service.h"
#include "win32/bridge/toast_notifications.h"
#include "win32/menus/browser_external_form.h"

namespace vtl {
class StyleManager;
}

namespace vtl::win32 {

class TMainForm;

struct BridgeServiceSet {
  BridgeServiceSet(TMainForm& mainForm, StyleManager& styles);

  BridgeAdapters adapters;  // files, environment, dialogs, window, styles
  Win32ShellService shell;
  Win32PowerService power;
  Win32RegistryService registry;
  Win32ToastNotifications notifications;
  // The invisible form with the main menu and the tray icon.
  std::unique_ptr<TBrowserExternalForm> externalForm;
  BridgeServices services;
};

// The adapters over the main window and the system, created on the UI thread
// once the main window exists. They must outlive the bridge module that
// borrows them, except the external form, whose click handlers point at the
// module: TMainForm ends the form first (see TMainForm::FormClose).
std::unique_ptr<BridgeServiceSet> CreateBridgeServices(TMainForm& mainForm, StyleManager& styles);

// Connects what the module reaches back through: toast clicks, the tray
// icon's state for window.setState.
void ConnectBridgeModule(BridgeServiceSet& set, TBrowserExternalModule& module);

}  // namespace vtl::win32
