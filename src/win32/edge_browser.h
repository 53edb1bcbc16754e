#pragma once

// The web view control: a child window that hosts one WebView2 web view.
//
// Creation runs as a chain on the user-interface thread, which owns every
// WebView2 object: the control asks the loader library for the environment,
// and each later stage comes as a completion through the thread's message
// loop. Every WebView2 event is forwarded to a std::function of the same
// name, with the argument interfaces wrapped for the duration of the call. Every WebView2
// call's result is recorded in LastErrorCode under a lock. Without a web view
// the operations do nothing and reads give 0, false or "", except the
// settings accessors, which raise EEdgeError.
//
// Include this before anything that declares names Win32 turns into macros.

#include <windows.h>

#include <WebView2.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "win32/com_ptr.h"

namespace vtl::win32 {

enum class TBrowserControlState { None, Creating, Created, Failed };
enum class TPreviewFormat { PNG, JPEG };

// A failure of the web view, with the HRESULT that caused it.
class EEdgeError : public std::runtime_error {
 public:
  EEdgeError(const std::string& message, HRESULT errorCode) : std::runtime_error(message), ErrorCode(errorCode) {}
  HRESULT ErrorCode;
};
inline constexpr char kEdgeCreateFailed[] = "Failed to create Edge browser control";
inline constexpr char kEdgeNotInstantiated[] = "WebView2 not instantiated";

// The loader library: its path (set by start-up once the library is
// extracted), loaded on first use and freed at program end.
extern std::wstring WebView2LoaderDllPath;
bool LoadWebView2Loader();
void UnloadWebView2Loader();
// E_FAIL when the library or its entry point is missing.
HRESULT CreateCoreWebView2EnvironmentThroughLoader(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
HRESULT GetBrowserVersionThroughLoader(std::string& version);

// Masks every floating-point exception (SSE bits 0x1F80): the browser's code
// in this process expects it. Run at program start, before any window.
void MaskFloatingPointExceptions();

// An event's argument interface, valid only during the handler call.
template <class I>
class TEventArgs {
 public:
  explicit TEventArgs(I* args) : FArgsInterface(args) {}
  I* ArgsInterface() const { return FArgsInterface.get(); }

 private:
  ComPtr<I> FArgsInterface;
};
using TNavigationStartingEventArgs = TEventArgs<ICoreWebView2NavigationStartingEventArgs>;
using TNewWindowRequestedEventArgs = TEventArgs<ICoreWebView2NewWindowRequestedEventArgs>;
using TPermissionRequestedEventArgs = TEventArgs<ICoreWebView2PermissionRequestedEventArgs>;
using TScriptDialogOpeningEventArgs = TEventArgs<ICoreWebView2ScriptDialogOpeningEventArgs>;
using TWebMessageReceivedEventArgs = TEventArgs<ICoreWebView2WebMessageReceivedEventArgs>;
using TWebResourceRequestedEventArgs = TEventArgs<ICoreWebView2WebResourceRequestedEventArgs>;

class TCustomEdgeBrowser {
 public:
  TCustomEdgeBrowser();
  virtual ~TCustomEdgeBrowser();
  TCustomEdgeBrowser(const TCustomEdgeBrowser&) = delete;
  TCustomEdgeBrowser& operator=(const TCustomEdgeBrowser&) = delete;

  // Window of the control --------------------------------------------------
  // Makes the control a child of `parent` (creating its window on first use)
  // and starts creating the web view.
  void SetParent(HWND parent);
  HWND Handle() const { return FHandle; }
  void SetBounds(const RECT& bounds);
  void SetVisible(bool visible);
  // Focuses the control and moves the focus into the page.
  void SetFocus();
  // The control window's own WM_SYSCOMMAND: minimising hides the web view,
  // restoring shows it again. The main window does not forward its system
  // commands here: its restores that come by other ways (the page's
  // setState, Maximize from a minimised window's menu) would leave the web
  // view hidden.
  void SysCommand(WPARAM command);

  // Lifecycle --------------------------------------------------------------
  void CreateWebView();
  void CloseWebView();
  void ReinitializeWebView();

  // Operations -------------------------------------------------------------
  void Navigate(const std::string& AUrl);
  void NavigateToString(const std::string& AHTMLContent);
  // Runs script in the page. `Completed`, when given, receives the outcome
  // and the script's value as JSON ("null" for undefined, or when the script
  // threw), later; also when the web view refused the call.
  using ScriptCompleted = std::function<void(HRESULT AResult, const std::string& AResultObjectAsJson)>;
  void ExecuteScript(const std::string& JavaScript, ScriptCompleted Completed = {});
  void AddWebResourceRequestedFilter(const std::string& URL, COREWEBVIEW2_WEB_RESOURCE_CONTEXT ResourceContext);
  void RemoveWebResourceRequestedFilter(const std::string& URL, COREWEBVIEW2_WEB_RESOURCE_CONTEXT ResourceContext);
  // The filter for requests of every source (documents of every frame,
  // dedicated, shared and service workers) where the web view offers it
  // (ICoreWebView2_22); elsewhere the plain filter, which reaches documents.
  void AddWebResourceRequestedFilterForAllSources(const std::string& URL,
                                                  COREWEBVIEW2_WEB_RESOURCE_CONTEXT ResourceContext);
  void GoBack();
  void GoForward();
  void Refresh();
  void Stop();
  void CapturePreview(const std::string& AFilename, TPreviewFormat PreviewFormat);
  void CapturePreview(IStream* Stream, TPreviewFormat PreviewFormat);
  void SubscribeToCDPEvent(const std::string& CDPEventName);
  void CloseBrowserProcess();
  void ReinitializeWebViewWithNewBrowser();

  // State ------------------------------------------------------------------
  TBrowserControlState BrowserControlState() const { return FBrowserControlState; }
  ICoreWebView2* DefaultInterface() const { return FWebView.get(); }
  ICoreWebView2Controller* ControllerInterface() const { return FWebViewController.get(); }
  ICoreWebView2Environment* EnvironmentInterface() const { return FWebViewEnvironment.get(); }
  ICoreWebView2Settings* SettingsInterface() const { return FWebViewSettings.get(); }
  bool WebViewCreated() const;
  HRESULT LastErrorCode() const;
  const std::string& LastURL() const { return FLastURL; }
  void SetLastURL(const std::string& url) { FLastURL = url; }
  double SizeRatio() const { return FSizeRatio; }
  void SetSizeRatio(double ratio);
  double ZoomFactor();
  void SetZoomFactor(double factor);
  std::string DocumentTitle();
  uint32_t BrowserProcessID();
  std::string BrowserVersionInfo();
  bool CanGoBack();
  bool CanGoForward();
  bool ContainsFullScreenElement();
  std::string LocationURL();

  // Settings; each raises EEdgeError without a settings object -----------
#define VTL_EDGE_SETTING(Name) \
  bool Name();                 \
  void Set##Name(bool value);
  VTL_EDGE_SETTING(ScriptEnabled)
  VTL_EDGE_SETTING(WebMessageEnabled)
  VTL_EDGE_SETTING(DefaultScriptDialogsEnabled)
  VTL_EDGE_SETTING(StatusBarEnabled)
  VTL_EDGE_SETTING(DevToolsEnabled)
  VTL_EDGE_SETTING(DefaultContextMenusEnabled)
  VTL_EDGE_SETTING(ZoomControlEnabled)
  VTL_EDGE_SETTING(BuiltInErrorPageEnabled)
#undef VTL_EDGE_SETTING

  // Events -----------------------------------------------------------------
  using Sender = TCustomEdgeBrowser&;
  std::function<void(Sender, HRESULT AResult)> OnCapturePreviewCompleted;
  std::function<void(Sender, bool ContainsFullScreenElement)> OnContainsFullScreenElementChanged;
  std::function<void(Sender, bool IsErrorPage, uint64_t NavigationID)> OnContentLoading;
  std::function<void(Sender, HRESULT AResult)> OnCreateWebViewCompleted;
  std::function<void(Sender, const std::string& CDPEventName, const std::string& AParameterObjectAsJson)>
      OnDevToolsProtocolEventReceived;
  std::function<void(Sender, const std::string& ADocumentTitle)> OnDocumentTitleChanged;
  std::function<void(Sender, HRESULT AResult, const std::string& AResultObjectAsJson)> OnExecuteScript;
  std::function<void(Sender, TNavigationStartingEventArgs& Args)> OnFrameNavigationStarting;
  std::function<void(Sender, bool IsSuccess, COREWEBVIEW2_WEB_ERROR_STATUS WebErrorStatus)> OnFrameNavigationCompleted;
  std::function<void(Sender)> OnHistoryChanged;
  std::function<void(Sender, TNavigationStartingEventArgs& Args)> OnNavigationStarting;
  std::function<void(Sender, bool IsSuccess, COREWEBVIEW2_WEB_ERROR_STATUS WebErrorStatus)> OnNavigationCompleted;
  std::function<void(Sender, TNewWindowRequestedEventArgs& Args)> OnNewWindowRequested;
  std::function<void(Sender, TPermissionRequestedEventArgs& Args)> OnPermissionRequested;
  std::function<void(Sender, COREWEBVIEW2_PROCESS_FAILED_KIND ProcessFailedKind)> OnProcessFailed;
  std::function<void(Sender, TScriptDialogOpeningEventArgs& Args)> OnScriptDialogOpening;
  std::function<void(Sender, bool IsNewDocument)> OnSourceChanged;
  std::function<void(Sender, TWebMessageReceivedEventArgs& Args)> OnWebMessageReceived;
  // An iframe's messages, which WebView2 raises on the iframe's frame object
  // (where the web view offers frames, ICoreWebView2_4), never through
  // OnWebMessageReceived; and the end of a frame, after which it takes no
  // more messages. Every frame ends, at the latest when the web view closes.
  std::function<void(Sender, ICoreWebView2Frame2* Frame, TWebMessageReceivedEventArgs& Args)>
      OnFrameWebMessageReceived;
  std::function<void(Sender, ICoreWebView2Frame2* Frame)> OnFrameDestroyed;
  std::function<void(Sender, TWebResourceRequestedEventArgs& Args)> OnWebResourceRequested;
  std::function<void(Sender)> OnWindowCloseRequested;
  std::function<void(Sender, double AZoomFactor)> OnZoomFactorChanged;
  // Focus arriving at and leaving the control (also from inside the page).
  std::function<void(Sender)> OnEnter;
  std::function<void(Sender)> OnExit;

  // The hosting form's keyboard-shortcut handling (its shortcuts, then its
  // main menu's). Offered every key the page receives; true when it handled
  // the key, which then does not reach the page.
  std::function<bool(const MSG& message)> OnShortcut;

 protected:
  // Records hr as LastErrorCode; true when it is a success.
  bool RecordResult(HRESULT hr);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateHandle(HWND parent);

  void InitializeWebView();
  void EnvironmentCompleted(HRESULT result, ICoreWebView2Environment* environment);
  void ControllerCompleted(HRESULT result, ICoreWebView2Controller* controller);
  void CreationFailed();
  void RegisterEventHandlers();
  void FrameCreated(ICoreWebView2Frame* frame);
  void FrameGone(ICoreWebView2Frame2* frame);
  void Resize();
  void FocusArrived();
  void AcceleratorKeyPressed(ICoreWebView2AcceleratorKeyPressedEventArgs* args);
  void QueueCompletion(HRESULT result);
  bool ReadSetting(HRESULT (STDMETHODCALLTYPE ICoreWebView2Settings::*getter)(BOOL*));
  void WriteSetting(HRESULT (STDMETHODCALLTYPE ICoreWebView2Settings::*setter)(BOOL), bool value);

  HWND FHandle = nullptr;
  TBrowserControlState FBrowserControlState = TBrowserControlState::None;
  ComPtr<ICoreWebView2Environment> FWebViewEnvironment;
  ComPtr<ICoreWebView2Controller> FWebViewController;
  ComPtr<ICoreWebView2> FWebView;
  ComPtr<ICoreWebView2Settings> FWebViewSettings;
  double FSizeRatio = 1.0;
  HRESULT FLastErrorCode = S_OK;
  bool FWebViewFocusEventActive = false;
  std::string FLastURL;
  mutable std::mutex FCritSec;

  EventRegistrationToken FAcceleratorKeyPressedToken{}, FContainsFullScreenElementChangedToken{},
      FContentLoadingToken{}, FDocumentTitleChangedToken{}, FFrameNavigationStartingToken{},
      FFrameNavigationCompletedToken{}, FGotFocusToken{}, FHistoryChangedToken{}, FLostFocusToken{},
      FMoveFocusRequestedToken{}, FNavigationStartingToken{}, FNavigationCompletedToken{},
      FNewWindowRequestedToken{}, FPermissionRequestedToken{}, FProcessFailedToken{}, FScriptDialogOpeningToken{},
      FSourceChangedToken{}, FWebResourceRequestedToken{}, FWebMessageReceivedToken{},
      FWindowCloseRequestedToken{}, FZoomFactorChangedToken{}, FFrameCreatedToken{};
  // The live iframes, with the tokens of their two handlers.
  struct Frame {
    ComPtr<ICoreWebView2Frame2> frame;
    EventRegistrationToken message{}, destroyed{};
  };
  std::vector<Frame> FFrames;
  std::map<std::string, EventRegistrationToken> FDevToolsProtocolEventReceivedTokenMap;

  // Queued stages hold this weakly: a stage that runs after the control is
  // gone does nothing.
  std::shared_ptr<TCustomEdgeBrowser*> FAlive;
};

// The class the browser form creates.
class TEdgeBrowser final : public TCustomEdgeBrowser {};

}  // namespace vtl::win32
