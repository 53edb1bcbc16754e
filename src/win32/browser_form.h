#pragma once

// The browser form: a borderless child window that owns the web view control
// and sets it up for a packaged application. When the web view is ready it
// registers the document script, applies the settings, asks for every
// request and, once the script is in place, opens the start page; it answers file:/// requests from the
// package, starts a second process for file: links opened in a new window,
// allows every permission, recovers from a failed renderer or browser, and
// hides its loading bar after the first navigation.

#include "win32/edge_browser.h"

#include <functional>
#include <memory>
#include <string>

namespace vtl {
class RuntimeZip;
}

namespace vtl::win32 {

class TBrowserForm {
 public:
  TBrowserForm();
  ~TBrowserForm();
  TBrowserForm(const TBrowserForm&) = delete;
  TBrowserForm& operator=(const TBrowserForm&) = delete;

  // Creates the form's window inside `parent`; the web view control then
  // starts creating its web view.
  void SetParent(HWND parent);
  HWND Handle() const { return hwnd_; }
  void SetBounds(const RECT& bounds);

  TEdgeBrowser& EdgeBrowser() { return *FEdgeBrowser; }

  // Filled by the main window right after SetParent: creation completes
  // through the UI queue, after these are in place.
  const RuntimeZip* ExeZip = nullptr;
  bool IsRuntime = false;
  std::string RuntimeAppID;
  bool WithExternal = false;
  std::string AppDirName;
  std::string AppDirPath;  // the executable's folder, with a trailing backslash
  bool AllowDebug = false;
  bool AllowZoom = false;
  std::string WebviewJavascript;
  bool AllowContextMenu = false;
  std::string StartPageURL;
  bool HandleRequests = false;
  // The page failed (its renderer or the browser): whatever it was asked
  // gets no answer.
  std::function<void()> OnPageLost;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Layout();
  void EdgeBrowserCreateWebViewCompleted(HRESULT AResult);
  // Registers the document script; `ready` runs once WebView2 has it.
  void InjectScripts(std::function<void()> ready);
  void EdgeBrowserProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND kind);
  void EdgeBrowserNewWindowRequested(TNewWindowRequestedEventArgs& Args);
  void EdgeBrowserWebResourceRequested(TWebResourceRequestedEventArgs& Args);

  HWND hwnd_ = nullptr;
  HWND progressBar_ = nullptr;
  std::unique_ptr<TEdgeBrowser> FEdgeBrowser;
  bool recovering_ = false;  // reloaded after a failure; no navigation completed since
  std::shared_ptr<void> alive_ = std::make_shared<int>(0);
};

}  // namespace vtl::win32
