#pragma once

// The main window: the application's one top-level window. It builds the
// bridge module and the browser form, reads the window settings of the
// package, decides the start address and negotiates closing with the page
// (with a page that can answer; otherwise the window closes at once).
//
// What the window commands use (all on the user-interface thread):
//   Handle()                    the window, for any Win32 call
//   SetVisible(bool)            hide or show it
//   EnterFullScreen()           borderless and maximized (the caller keeps the
//                               bridge module's InFullscreen flag)
//   ExitFullScreen(border)      normal state, then the border style by number
//   SetBorderStyle(n)           0 none, 1 single, 2 sizeable, 3 dialog,
//                               4 tool window, 5 sizeable tool window; other
//                               numbers count as 2
//   Caption() / SetCaption()    the title bar text, UTF-8
//   OnShortcut                  keys pressed in the page, offered before the
//                               page sees them (the main menu's shortcuts)

#include "win32/edge_browser.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/bridge/browser_external_module.h"
#include "core/startup.h"

namespace vtl {
class StyleManager;
}

namespace vtl::win32 {

class TBrowserForm;
struct BridgeServiceSet;

class TMainForm final : public WebViewPort {
 public:
  TMainForm(const Runtime& runtime, StyleManager& styles);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Creates and shows the window; false when it could not be created.
  bool Create();

  HWND Handle() const { return hwnd_; }
  void SetVisible(bool visible);
  void EnterFullScreen();
  void ExitFullScreen(int borderStyle);
  void SetBorderStyle(int borderStyle);
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  std::function<bool(const MSG& message)> OnShortcut;

  TBrowserForm* BrowserForm() { return FBrowserForm.get(); }
  TBrowserExternalModule* BrowserExternalModule() { return FBrowserExternalModule.get(); }

  // WebViewPort, over the browser form's web view.
  void PostWebMessageAsJson(const std::string& json) override;
  void ExecuteScript(const std::string& script) override;
  double ZoomFactor() const override;
  void SetZoomFactor(double factor) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void FormCreate();
  bool FormCloseQuery();
  void FormClose();
  void EdgeBrowserDocumentTitleChanged(const std::string& ADocumentTitle);
  void BrowserExternalModuleAppCloseRequest();
  // Allows closing and closes, posted.
  void CloseNow();
  TEdgeBrowser* Edge() const;

  // Where the replies to an iframe's requests go: the frame, for as long as
  // it lives.
  class FramePort final : public ReplyTarget {
   public:
    explicit FramePort(ICoreWebView2Frame2* frame);
    void PostWebMessageAsJson(const std::string& json) override;

   private:
    ComPtr<ICoreWebView2Frame2> frame_;
  };
  std::map<ICoreWebView2Frame2*, std::shared_ptr<FramePort>> framePorts_;

  const Runtime& runtime_;
  HWND hwnd_ = nullptr;
  bool FCanClose = false;
  bool closeQueryPending_ = false;  // a close script awaits its value
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  StyleManager& styles_;
  std::unique_ptr<BridgeServiceSet> adapters_;
  std::unique_ptr<TBrowserForm> FBrowserForm;
  std::unique_ptr<TBrowserExternalModule> FBrowserExternalModule;
  // Size limits of the outer window; 0 means none.
  int maxWidth_ = 0, maxHeight_ = 0, minWidth_ = 0, minHeight_ = 0;
};

// Creates the main window and runs the message loop until it closes.
// Returns the process exit code.
int RunMainForm(const Runtime& runtime, StyleManager& styles);

}  // namespace vtl::win32
