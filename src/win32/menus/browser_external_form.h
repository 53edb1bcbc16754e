#pragma once

// TBrowserExternalForm: the never-shown window that holds the page's main
// menu (the main window's menu bar), the tray icon and the tray's pop-up
// menu, each menu with its image list. It implements the core's MenuService
// and TrayService.
//
// How the main window uses it:
//   - create it with the main window's handle (or give it later with
//     SetMainWindow) and put MainMenu() and Tray() into BridgeServices;
//   - pass every WM_MENUCOMMAND it receives to HandleMenuCommand first;
//   - from the web view's accelerator-key handler, offer each key to
//     TranslateShortcut and mark the key handled when it answers true;
//   - the window command setState asks Tray().IconVisible().
// Destroy it before the bridge module that the click events go to.

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/platform/menus.h"
#include "win32/menus/menu_images.h"

namespace vtl::win32 {

// One menu drawn from the core's item tree: a menu bar or a pop-up. Items
// report clicks by position (MNS_NOTIFYBYPOS, WM_MENUCOMMAND), so the menu
// needs no command ids.
class DrawnMenu {
 public:
  explicit DrawnMenu(bool menuBar);
  ~DrawnMenu();
  DrawnMenu(const DrawnMenu&) = delete;
  DrawnMenu& operator=(const DrawnMenu&) = delete;

  HMENU Handle() const { return menu_; }
  // Rebuilds the menu's items from the root's sub-items.
  void Draw(const MenuItem& root, const MenuImageList& images);
  // The item at `position` of `menu` (the menu or one of its submenus), or
  // null when the menu is not one of ours or has no such item.
  const MenuItem* ItemAt(HMENU menu, UINT position) const;
  // The menu belongs to a window now, which destroys it with itself.
  void GiveTo(HWND window) { owner_ = window; }

 private:
  void Fill(HMENU menu, const MenuItem& parent, const MenuImageList& images);

  HMENU menu_;
  HWND owner_ = nullptr;
  std::unordered_map<HMENU, const MenuItem*> parents_;  // each drawn menu and whose sub-items it shows
};

class TBrowserExternalForm {
 public:
  explicit TBrowserExternalForm(HWND mainWindow = nullptr);
  ~TBrowserExternalForm();
  TBrowserExternalForm(const TBrowserExternalForm&) = delete;
  TBrowserExternalForm& operator=(const TBrowserExternalForm&) = delete;

  HWND Handle() const { return hwnd_; }
  // The window whose menu bar the main menu becomes.
  void SetMainWindow(HWND mainWindow);

  MenuService& MainMenu();
  TrayService& Tray();

  // A WM_MENUCOMMAND of the main window: true when it came from the main
  // menu (an enabled leaf then raises its click event).
  bool HandleMenuCommand(UINT message, WPARAM wParam, LPARAM lParam);

  // A key the web view offers as an accelerator (WM_KEYDOWN, WM_SYSKEYDOWN,
  // ...). Alt with the access key of a top-level item of the menu bar opens
  // that menu, as it does while the main window itself has the focus; true
  // then, and the web view should not process the key.
  bool TranslateShortcut(UINT message, WPARAM virtualKey, LPARAM keyData);

  // What the tests read.
  HMENU MainMenuHandle() const;
  HMENU TrayMenuHandle() const;
  const MenuImageList& MainMenuImages() const;
  const MenuImageList& TrayMenuImages() const;
  const std::wstring& TrayTooltip() const { return tooltip_; }
  // True while the shell holds the icon (it may refuse one while it starts).
  bool TrayIconAdded() const { return iconAdded_; }

 private:
  class MainMenuImpl;
  class TrayImpl;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnTrayMessage(UINT mouseMessage);
  void ShowTrayMenu();
  bool AddIcon();
  bool DeleteIcon();

  HWND hwnd_ = nullptr;
  HWND mainWindow_ = nullptr;
  UINT taskbarCreated_ = 0;
  std::unique_ptr<MainMenuImpl> mainMenu_;
  std::unique_ptr<TrayImpl> tray_;
  std::wstring tooltip_;
  HICON icon_ = nullptr;
  bool iconShown_ = false;   // between ShowIcon and HideIcon
  bool iconAdded_ = false;   // the shell holds it
  bool leftPressed_ = false;
};

// The platform's default application title: the executable's file name up to
// its first dot, every letter after the first in lower case.
std::wstring DefaultApplicationTitle(std::wstring_view executablePath);

}  // namespace vtl::win32
