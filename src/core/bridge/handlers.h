#pragma once

// The handlers of the command table, one file per group of namespaces.
// Only the core includes this header.

#include <string>

#include "core/json.h"

namespace vtl {

class TBrowserExternalModule;

#define VTL_BRIDGE_HANDLER(Name) \
  void Name(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data)

// The bridge itself and the application commands (app_commands.cpp)
VTL_BRIDGE_HANDLER(Hello);
VTL_BRIDGE_HANDLER(IsRuntime);
VTL_BRIDGE_HANDLER(AppClose);
VTL_BRIDGE_HANDLER(AppInFullscreen);
VTL_BRIDGE_HANDLER(AppEnterFullscreen);
VTL_BRIDGE_HANDLER(AppExitFullscreen);
VTL_BRIDGE_HANDLER(AppGetArgs);

// System commands and notifications (system_commands.cpp)
VTL_BRIDGE_HANDLER(SystemLogoff);
VTL_BRIDGE_HANDLER(SystemReboot);
VTL_BRIDGE_HANDLER(SystemShutdown);
VTL_BRIDGE_HANDLER(SystemNotification);

// Main menu and tray menu commands (menu_commands.cpp)
VTL_BRIDGE_HANDLER(MainMenuSetItems);
VTL_BRIDGE_HANDLER(MainMenuUpdateItem);
VTL_BRIDGE_HANDLER(TrayMenuShowIcon);
VTL_BRIDGE_HANDLER(TrayMenuHideIcon);
VTL_BRIDGE_HANDLER(TrayMenuSetItems);
VTL_BRIDGE_HANDLER(TrayMenuUpdateItem);

// Registry commands (registry_commands.cpp)
VTL_BRIDGE_HANDLER(RegistryWriteValue);
VTL_BRIDGE_HANDLER(RegistryReadValue);
VTL_BRIDGE_HANDLER(RegistryValueExist);
VTL_BRIDGE_HANDLER(RegistryDeleteValue);
VTL_BRIDGE_HANDLER(RegistryKeyExist);
VTL_BRIDGE_HANDLER(RegistryDeleteKey);

// Dialog commands (dialog_commands.cpp)
VTL_BRIDGE_HANDLER(DialogsOpenFile);
VTL_BRIDGE_HANDLER(DialogsSaveFile);
VTL_BRIDGE_HANDLER(DialogsSelFolder);

// File, folder and Base64 commands (file_commands.cpp)
VTL_BRIDGE_HANDLER(FilesFileExists);
VTL_BRIDGE_HANDLER(FilesDeleteFile);
VTL_BRIDGE_HANDLER(FilesWriteTextFile);
VTL_BRIDGE_HANDLER(FilesExtractFile);
VTL_BRIDGE_HANDLER(FoldersDirExists);
VTL_BRIDGE_HANDLER(FoldersDeleteDir);
VTL_BRIDGE_HANDLER(FoldersGetTempDir);
VTL_BRIDGE_HANDLER(FoldersGetUserDocumentsDir);
VTL_BRIDGE_HANDLER(FoldersGetUserDesktopDir);
VTL_BRIDGE_HANDLER(FoldersGetAppExecutableDir);
VTL_BRIDGE_HANDLER(FoldersGetAppDataDir);
VTL_BRIDGE_HANDLER(Base64DecodeToFile);

// Window commands (window_commands.cpp)
VTL_BRIDGE_HANDLER(WindowGetStyle);
VTL_BRIDGE_HANDLER(WindowSetStyle);
VTL_BRIDGE_HANDLER(WindowGetState);
VTL_BRIDGE_HANDLER(WindowSetState);
VTL_BRIDGE_HANDLER(WindowGetTitle);
VTL_BRIDGE_HANDLER(WindowSetTitle);
VTL_BRIDGE_HANDLER(WindowGetZoom);
VTL_BRIDGE_HANDLER(WindowSetZoom);
VTL_BRIDGE_HANDLER(WindowGetSize);
VTL_BRIDGE_HANDLER(WindowSetSize);

// Shell commands (shell_commands.cpp)
VTL_BRIDGE_HANDLER(ShellExecute);
VTL_BRIDGE_HANDLER(ShellExplore);
VTL_BRIDGE_HANDLER(ShellCommand);
VTL_BRIDGE_HANDLER(ShellWindows);

// Theme commands (theme_commands.cpp)
VTL_BRIDGE_HANDLER(ThemesGetTheme);
VTL_BRIDGE_HANDLER(ThemesGetThemes);
VTL_BRIDGE_HANDLER(ThemesSetTheme);

#undef VTL_BRIDGE_HANDLER

}  // namespace vtl
