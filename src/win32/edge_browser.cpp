#include "win32/edge_browser.h"

#include <shlwapi.h>
#include <xmmintrin.h>

#include <algorithm>
#include <utility>

#include "core/str_utils.h"
#include "win32/text.h"
#include "win32/ui_queue.h"

namespace vtl::win32 {

std::wstring WebView2LoaderDllPath;

namespace {

HMODULE WebView2LoaderHandle = nullptr;
std::mutex loaderLock;

using CreateEnvironmentFn = HRESULT(STDAPICALLTYPE*)(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);
using BrowserVersionFn = HRESULT(STDAPICALLTYPE*)(PCWSTR, LPWSTR*);
using CreateEnvironmentWithOptionsFn = HRESULT(STDAPICALLTYPE*)(
    PCWSTR, PCWSTR, ICoreWebView2EnvironmentOptions*, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);
using CompareVersionsFn = HRESULT(STDAPICALLTYPE*)(PCWSTR, PCWSTR, int*);

CreateEnvironmentWithOptionsFn createEnvironmentWithOptions = nullptr;
CreateEnvironmentFn createEnvironment = nullptr;
BrowserVersionFn browserVersion = nullptr;
CompareVersionsFn compareVersions = nullptr;

template <class F>
F Resolve(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(WebView2LoaderHandle, name)));
}

// A string WebView2 allocated, copied as UTF-8 and freed.
std::string TakeString(LPWSTR text) {
  if (!text) return {};
  std::string copy = Narrow(text);
  CoTaskMemFree(text);
  return copy;
}

constexpr wchar_t kClassName[] = L"VantrelEdgeBrowser";

// Empty once blanks and control characters are trimmed away.
bool IsBlank(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

#define VTL_HANDLER(Interface, ...) ComHandler<Interface>::Create(IID_##Interface, __VA_ARGS__)

}  // namespace

bool LoadWebView2Loader() {
  const std::lock_guard lock(loaderLock);
  if (WebView2LoaderHandle) return true;
  if (WebView2LoaderDllPath.empty()) return false;
  WebView2LoaderHandle = LoadLibraryW(WebView2LoaderDllPath.c_str());
  if (!WebView2LoaderHandle) return false;
  createEnvironmentWithOptions = Resolve<CreateEnvironmentWithOptionsFn>("CreateCoreWebView2EnvironmentWithOptions");
  createEnvironment = Resolve<CreateEnvironmentFn>("CreateCoreWebView2Environment");
  browserVersion = Resolve<BrowserVersionFn>("GetAvailableCoreWebView2BrowserVersionString");
  compareVersions = Resolve<CompareVersionsFn>("CompareBrowserVersions");
  return true;
}

void UnloadWebView2Loader() {
  const std::lock_guard lock(loaderLock);
  if (WebView2LoaderHandle) FreeLibrary(WebView2LoaderHandle);
  WebView2LoaderHandle = nullptr;
  createEnvironmentWithOptions = nullptr;
  createEnvironment = nullptr;
  browserVersion = nullptr;
  compareVersions = nullptr;
  WebView2LoaderDllPath.clear();
}

HRESULT CreateCoreWebView2EnvironmentThroughLoader(
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  if (!LoadWebView2Loader() || !createEnvironment) return E_FAIL;
  return createEnvironment(handler);
}

HRESULT GetBrowserVersionThroughLoader(std::string& version) {
  version.clear();
  if (!LoadWebView2Loader() || !browserVersion) return E_FAIL;
  LPWSTR text = nullptr;
  const HRESULT hr = browserVersion(nullptr, &text);
  version = TakeString(text);
  return hr;
}

void MaskFloatingPointExceptions() { _mm_setcsr(_mm_getcsr() | 0x1F80); }

// Construction and the control's window -------------------------------------

TCustomEdgeBrowser::TCustomEdgeBrowser() : FAlive(std::make_shared<TCustomEdgeBrowser*>(this)) {}

TCustomEdgeBrowser::~TCustomEdgeBrowser() {
  CloseWebView();
  FAlive.reset();
  if (FHandle) {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
}

void TCustomEdgeBrowser::CreateHandle(HWND parent) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);  // until the web view covers it
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly once registered
  FHandle = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, 0, 0, 0, 0,
                            parent, nullptr, wc.hInstance, this);
  // A window created anew for a control that has a web view: build the web
  // view again inside it.
  if (FHandle && FWebView) ReinitializeWebView();
}

LRESULT CALLBACK TCustomEdgeBrowser::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* created = static_cast<TCustomEdgeBrowser*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    created->FHandle = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* self = reinterpret_cast<TCustomEdgeBrowser*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT TCustomEdgeBrowser::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      Resize();
      return 0;
    case WM_SETFOCUS:
      FocusArrived();
      return 0;
    case WM_KILLFOCUS:
      if (OnExit) OnExit(*this);
      return 0;
    case WM_SHOWWINDOW:
      if (FWebViewController) RecordResult(FWebViewController->put_IsVisible(wParam ? TRUE : FALSE));
      break;
    case WM_SYSCOMMAND:
      SysCommand(wParam);
      break;
    default:
      break;
  }
  return DefWindowProcW(FHandle, message, wParam, lParam);
}

void TCustomEdgeBrowser::SetParent(HWND parent) {
  if (!FHandle) {
    CreateHandle(parent);
  } else {
    ::SetParent(FHandle, parent);
  }
  if (parent) CreateWebView();
}

void TCustomEdgeBrowser::SetBounds(const RECT& bounds) {
  if (FHandle)
    MoveWindow(FHandle, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
}

void TCustomEdgeBrowser::SetVisible(bool visible) {
  if (FHandle) ShowWindow(FHandle, visible ? SW_SHOW : SW_HIDE);
  if (FWebViewController) RecordResult(FWebViewController->put_IsVisible(visible ? TRUE : FALSE));
}

void TCustomEdgeBrowser::SetFocus() {
  if (FHandle) {
    FWebViewFocusEventActive = true;  // the move below follows
    ::SetFocus(FHandle);
    FWebViewFocusEventActive = false;
  }
  if (FWebViewController) RecordResult(FWebViewController->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC));
}

void TCustomEdgeBrowser::SysCommand(WPARAM command) {
  if (!FWebViewController) return;
  switch (command & 0xFFF0) {
    case SC_MINIMIZE: RecordResult(FWebViewController->put_IsVisible(FALSE)); break;
    case SC_RESTORE: RecordResult(FWebViewController->put_IsVisible(TRUE)); break;
    default: break;
  }
}

void TCustomEdgeBrowser::FocusArrived() {
  if (OnEnter) OnEnter(*this);
  if (!FWebViewFocusEventActive && FWebViewController)
    RecordResult(FWebViewController->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC));
}

void TCustomEdgeBrowser::Resize() {
  if (!FWebViewController || !FHandle) return;
  RECT r{};
  GetClientRect(FHandle, &r);
  r.bottom = static_cast<LONG>((r.bottom - r.top) * FSizeRatio + r.top);
  r.right = static_cast<LONG>((r.right - r.left) * FSizeRatio + r.left);
  RecordResult(FWebViewController->put_Bounds(r));
}

void TCustomEdgeBrowser::SetSizeRatio(double ratio) {
  FSizeRatio = ratio;
  Resize();
}

// Result recording ------------------------------------------------------------

bool TCustomEdgeBrowser::RecordResult(HRESULT hr) {
  const std::lock_guard lock(FCritSec);
  FLastErrorCode = hr;
  return SUCCEEDED(hr);
}

HRESULT TCustomEdgeBrowser::LastErrorCode() const {
  const std::lock_guard lock(FCritSec);
  return FLastErrorCode;
}

bool TCustomEdgeBrowser::WebViewCreated() const {
  return FWebViewEnvironment && FWebViewController && FWebView && FWebViewSettings;
}

// Creation ----------------------------------------------------------------------

void TCustomEdgeBrowser::CreateWebView() {
  if (FWebView || FBrowserControlState == TBrowserControlState::Creating) return;
  InitializeWebView();
}

void TCustomEdgeBrowser::ReinitializeWebView() { InitializeWebView(); }

// The environment is asked for on this, the user-interface thread: WebView2's
// objects are single-threaded and belong to the thread that made the
// environment. Creation is asynchronous all the same; the answer and every
// later stage arrive through this thread's message loop.
void TCustomEdgeBrowser::InitializeWebView() {
  CloseWebView();
  FSizeRatio = 1.0;
  FWebViewFocusEventActive = false;
  FBrowserControlState = TBrowserControlState::Creating;
  std::weak_ptr<TCustomEdgeBrowser*> alive = FAlive;
  const auto handler = VTL_HANDLER(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                                   [alive](HRESULT result, ICoreWebView2Environment* environment) {
                                     if (const auto self = alive.lock()) (*self)->EnvironmentCompleted(result, environment);
                                     return S_OK;
                                   });
  const HRESULT hr = CreateCoreWebView2EnvironmentThroughLoader(handler.get());
  if (!RecordResult(hr)) QueueCompletion(hr);
}

void TCustomEdgeBrowser::QueueCompletion(HRESULT result) {
  std::weak_ptr<TCustomEdgeBrowser*> alive = FAlive;
  QueueOnUiThread([alive, result] {
    if (const auto self = alive.lock()) {
      if ((*self)->OnCreateWebViewCompleted) (*self)->OnCreateWebViewCompleted(**self, result);
    }
  });
}

void TCustomEdgeBrowser::EnvironmentCompleted(HRESULT result, ICoreWebView2Environment* environment) {
  if (!RecordResult(result) || !environment) {
    if (OnCreateWebViewCompleted) OnCreateWebViewCompleted(*this, FAILED(result) ? result : E_POINTER);
    return;
  }
  FWebViewEnvironment = ComPtr(environment);
  if (!FHandle) CreateHandle(nullptr);
  std::weak_ptr<TCustomEdgeBrowser*> alive = FAlive;
  const auto handler = VTL_HANDLER(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                                   [alive](HRESULT r, ICoreWebView2Controller* controller) {
                                     if (const auto self = alive.lock()) (*self)->ControllerCompleted(r, controller);
                                     return S_OK;
                                   });
  // A refusal here leaves the state at Creating, without a message.
  RecordResult(FWebViewEnvironment->CreateCoreWebView2Controller(FHandle, handler.get()));
}

void TCustomEdgeBrowser::ControllerCompleted(HRESULT result, ICoreWebView2Controller* controller) {
  if (!RecordResult(result) || !controller) return CreationFailed();
  FWebViewController = ComPtr(controller);
  if (!RecordResult(FWebViewController->get_CoreWebView2(FWebView.Put())) || !FWebView) return CreationFailed();
  if (!RecordResult(FWebView->get_Settings(FWebViewSettings.Put())) || !FWebViewSettings) return CreationFailed();

  FBrowserControlState = TBrowserControlState::Created;
  if (OnCreateWebViewCompleted) OnCreateWebViewCompleted(*this, result);
  if (FWebView && FWebViewController) RegisterEventHandlers();
  Resize();
  if (!FLastURL.empty()) Navigate(FLastURL);
}

void TCustomEdgeBrowser::CreationFailed() {
  FBrowserControlState = TBrowserControlState::Failed;
  const HRESULT hr = LastErrorCode();
  if (OnCreateWebViewCompleted) {
    OnCreateWebViewCompleted(*this, hr);
    return;
  }
  QueueOnUiThread([hr] { throw EEdgeError(kEdgeCreateFailed, hr); });
}

// Events --------------------------------------------------------------------------

void TCustomEdgeBrowser::RegisterEventHandlers() {
  ICoreWebView2* w = FWebView.get();
  ICoreWebView2Controller* c = FWebViewController.get();

  w->add_NavigationStarting(VTL_HANDLER(ICoreWebView2NavigationStartingEventHandler,
                                        [this](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* a) {
                                          if (OnNavigationStarting) {
                                            TNavigationStartingEventArgs args(a);
                                            OnNavigationStarting(*this, args);
                                          }
                                          return S_OK;
                                        }).get(),
                            &FNavigationStartingToken);
  auto completed = [this](bool frame) {
    return VTL_HANDLER(ICoreWebView2NavigationCompletedEventHandler,
                       [this, frame](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs* a) {
                         auto& event = frame ? OnFrameNavigationCompleted : OnNavigationCompleted;
                         if (!event) return S_OK;
                         BOOL success = FALSE;
                         COREWEBVIEW2_WEB_ERROR_STATUS status = COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
                         a->get_IsSuccess(&success);
                         a->get_WebErrorStatus(&status);
                         event(*this, success != FALSE, status);
                         return S_OK;
                       });
  };
  w->add_NavigationCompleted(completed(false).get(), &FNavigationCompletedToken);
  w->add_SourceChanged(VTL_HANDLER(ICoreWebView2SourceChangedEventHandler,
                                   [this](ICoreWebView2*, ICoreWebView2SourceChangedEventArgs* a) {
                                     if (!OnSourceChanged) return S_OK;
                                     BOOL isNew = FALSE;
                                     a->get_IsNewDocument(&isNew);
                                     OnSourceChanged(*this, isNew != FALSE);
                                     return S_OK;
                                   }).get(),
                       &FSourceChangedToken);
  w->add_HistoryChanged(VTL_HANDLER(ICoreWebView2HistoryChangedEventHandler,
                                    [this](ICoreWebView2*, IUnknown*) {
                                      if (OnHistoryChanged) OnHistoryChanged(*this);
                                      return S_OK;
                                    }).get(),
                        &FHistoryChangedToken);
  w->add_ContentLoading(VTL_HANDLER(ICoreWebView2ContentLoadingEventHandler,
                                    [this](ICoreWebView2*, ICoreWebView2ContentLoadingEventArgs* a) {
                                      if (!OnContentLoading) return S_OK;
                                      BOOL errorPage = FALSE;
                                      UINT64 id = 0;
                                      a->get_IsErrorPage(&errorPage);
                                      a->get_NavigationId(&id);
                                      OnContentLoading(*this, errorPage != FALSE, id);
                                      return S_OK;
                                    }).get(),
                        &FContentLoadingToken);
  w->add_DocumentTitleChanged(VTL_HANDLER(ICoreWebView2DocumentTitleChangedEventHandler,
                                          [this](ICoreWebView2*, IUnknown*) {
                                            if (OnDocumentTitleChanged) OnDocumentTitleChanged(*this, DocumentTitle());
                                            return S_OK;
                                          }).get(),
                              &FDocumentTitleChangedToken);
  w->add_NewWindowRequested(VTL_HANDLER(ICoreWebView2NewWindowRequestedEventHandler,
                                        [this](ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* a) {
                                          if (OnNewWindowRequested) {
                                            TNewWindowRequestedEventArgs args(a);
                                            OnNewWindowRequested(*this, args);
                                          }
                                          return S_OK;
                                        }).get(),
                            &FNewWindowRequestedToken);
  w->add_FrameNavigationStarting(VTL_HANDLER(ICoreWebView2NavigationStartingEventHandler,
                                             [this](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* a) {
                                               if (OnFrameNavigationStarting) {
                                                 TNavigationStartingEventArgs args(a);
                                                 OnFrameNavigationStarting(*this, args);
                                               }
                                               return S_OK;
                                             }).get(),
                                 &FFrameNavigationStartingToken);
  w->add_FrameNavigationCompleted(completed(true).get(), &FFrameNavigationCompletedToken);
  w->add_WebResourceRequested(VTL_HANDLER(ICoreWebView2WebResourceRequestedEventHandler,
                                          [this](ICoreWebView2*, ICoreWebView2WebResourceRequestedEventArgs* a) {
                                            if (OnWebResourceRequested) {
                                              TWebResourceRequestedEventArgs args(a);
                                              OnWebResourceRequested(*this, args);
                                            }
                                            return S_OK;
                                          }).get(),
                              &FWebResourceRequestedToken);
  w->add_ScriptDialogOpening(VTL_HANDLER(ICoreWebView2ScriptDialogOpeningEventHandler,
                                         [this](ICoreWebView2*, ICoreWebView2ScriptDialogOpeningEventArgs* a) {
                                           if (OnScriptDialogOpening) {
                                             TScriptDialogOpeningEventArgs args(a);
                                             OnScriptDialogOpening(*this, args);
                                           }
                                           return S_OK;
                                         }).get(),
                             &FScriptDialogOpeningToken);
  w->add_PermissionRequested(VTL_HANDLER(ICoreWebView2PermissionRequestedEventHandler,
                                         [this](ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* a) {
                                           if (OnPermissionRequested) {
                                             TPermissionRequestedEventArgs args(a);
                                             OnPermissionRequested(*this, args);
                                           }
                                           return S_OK;
                                         }).get(),
                             &FPermissionRequestedToken);
  w->add_ProcessFailed(VTL_HANDLER(ICoreWebView2ProcessFailedEventHandler,
                                   [this](ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs* a) {
                                     if (!OnProcessFailed) return S_OK;
                                     COREWEBVIEW2_PROCESS_FAILED_KIND kind = COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
                                     a->get_ProcessFailedKind(&kind);
                                     OnProcessFailed(*this, kind);
                                     return S_OK;
                                   }).get(),
                       &FProcessFailedToken);
  w->add_WebMessageReceived(VTL_HANDLER(ICoreWebView2WebMessageReceivedEventHandler,
                                        [this](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* a) {
                                          if (OnWebMessageReceived) {
                                            TWebMessageReceivedEventArgs args(a);
                                            OnWebMessageReceived(*this, args);
                                          }
                                          return S_OK;
                                        }).get(),
                            &FWebMessageReceivedToken);
  w->add_ContainsFullScreenElementChanged(
      VTL_HANDLER(ICoreWebView2ContainsFullScreenElementChangedEventHandler,
                  [this](ICoreWebView2* sender, IUnknown*) {
                    if (!OnContainsFullScreenElementChanged) return S_OK;
                    BOOL contains = FALSE;
                    if (RecordResult(sender->get_ContainsFullScreenElement(&contains)))
                      OnContainsFullScreenElementChanged(*this, contains != FALSE);
                    return S_OK;
                  })
          .get(),
      &FContainsFullScreenElementChangedToken);
  w->add_WindowCloseRequested(VTL_HANDLER(ICoreWebView2WindowCloseRequestedEventHandler,
                                          [this](ICoreWebView2*, IUnknown*) {
                                            if (OnWindowCloseRequested) OnWindowCloseRequested(*this);
                                            return S_OK;
                                          }).get(),
                              &FWindowCloseRequestedToken);
  ComPtr<ICoreWebView2_4> w4;
  if (SUCCEEDED(w->QueryInterface(IID_ICoreWebView2_4, reinterpret_cast<void**>(w4.Put()))) && w4)
    w4->add_FrameCreated(VTL_HANDLER(ICoreWebView2FrameCreatedEventHandler,
                                     [this](ICoreWebView2*, ICoreWebView2FrameCreatedEventArgs* a) {
                                       ComPtr<ICoreWebView2Frame> frame;
                                       if (SUCCEEDED(a->get_Frame(frame.Put())) && frame) FrameCreated(frame.get());
                                       return S_OK;
                                     }).get(),
                         &FFrameCreatedToken);

  c->add_ZoomFactorChanged(VTL_HANDLER(ICoreWebView2ZoomFactorChangedEventHandler,
                                       [this](ICoreWebView2Controller*, IUnknown*) {
                                         if (OnZoomFactorChanged) OnZoomFactorChanged(*this, ZoomFactor());
                                         return S_OK;
                                       }).get(),
                           &FZoomFactorChangedToken);
  c->add_MoveFocusRequested(VTL_HANDLER(ICoreWebView2MoveFocusRequestedEventHandler,
                                        [this](ICoreWebView2Controller*, ICoreWebView2MoveFocusRequestedEventArgs* a) {
                                          // The control has no child controls to move to: next
                                          // and previous keep the focus where it is.
                                          COREWEBVIEW2_MOVE_FOCUS_REASON reason{};
                                          RecordResult(a->get_Reason(&reason));
                                          return S_OK;
                                        }).get(),
                            &FMoveFocusRequestedToken);
  c->add_AcceleratorKeyPressed(
      VTL_HANDLER(ICoreWebView2AcceleratorKeyPressedEventHandler,
                  [this](ICoreWebView2Controller*, ICoreWebView2AcceleratorKeyPressedEventArgs* a) {
                    AcceleratorKeyPressed(a);
                    return S_OK;
                  })
          .get(),
      &FAcceleratorKeyPressedToken);
  c->add_GotFocus(VTL_HANDLER(ICoreWebView2FocusChangedEventHandler,
                              [this](ICoreWebView2Controller*, IUnknown*) {
                                FWebViewFocusEventActive = true;
                                FocusArrived();
                                FWebViewFocusEventActive = false;
                                return S_OK;
                              }).get(),
                  &FGotFocusToken);
  c->add_LostFocus(VTL_HANDLER(ICoreWebView2FocusChangedEventHandler,
                               [this](ICoreWebView2Controller*, IUnknown*) {
                                 if (OnExit) OnExit(*this);
                                 return S_OK;
                               }).get(),
                   &FLostFocusToken);
}

void TCustomEdgeBrowser::FrameCreated(ICoreWebView2Frame* created) {
  Frame entry;
  if (FAILED(created->QueryInterface(IID_ICoreWebView2Frame2, reinterpret_cast<void**>(entry.frame.Put()))) ||
      !entry.frame)
    return;
  ICoreWebView2Frame2* frame = entry.frame.get();
  RecordResult(frame->add_WebMessageReceived(
      VTL_HANDLER(ICoreWebView2FrameWebMessageReceivedEventHandler,
                  [this, frame](ICoreWebView2Frame*, ICoreWebView2WebMessageReceivedEventArgs* a) {
                    if (OnFrameWebMessageReceived) {
                      TWebMessageReceivedEventArgs args(a);
                      OnFrameWebMessageReceived(*this, frame, args);
                    }
                    return S_OK;
                  })
          .get(),
      &entry.message));
  RecordResult(frame->add_Destroyed(VTL_HANDLER(ICoreWebView2FrameDestroyedEventHandler,
                                                [this, frame](ICoreWebView2Frame*, IUnknown*) {
                                                  FrameGone(frame);
                                                  return S_OK;
                                                })
                                        .get(),
                                    &entry.destroyed));
  FFrames.push_back(std::move(entry));
}

void TCustomEdgeBrowser::FrameGone(ICoreWebView2Frame2* frame) {
  const auto it = std::find_if(FFrames.begin(), FFrames.end(), [&](const Frame& f) { return f.frame.get() == frame; });
  if (it == FFrames.end()) return;
  const Frame gone = std::move(*it);  // holds the frame for the handlers below
  FFrames.erase(it);
  gone.frame->remove_WebMessageReceived(gone.message);
  gone.frame->remove_Destroyed(gone.destroyed);
  if (OnFrameDestroyed) OnFrameDestroyed(*this, gone.frame.get());
}

void TCustomEdgeBrowser::AcceleratorKeyPressed(ICoreWebView2AcceleratorKeyPressedEventArgs* args) {
  COREWEBVIEW2_KEY_EVENT_KIND kind{};
  UINT key = 0;
  INT lParam = 0;
  if (!RecordResult(args->get_KeyEventKind(&kind)) || !RecordResult(args->get_VirtualKey(&key)) ||
      !RecordResult(args->get_KeyEventLParam(&lParam)))
    return;
  const HWND form = FHandle ? GetAncestor(FHandle, GA_ROOT) : nullptr;
  if (!form || form == FHandle) return;
  static constexpr UINT kMessages[] = {WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP};
  if (static_cast<unsigned>(kind) >= std::size(kMessages)) return;
  MSG msg{};
  msg.hwnd = form;
  msg.message = kMessages[kind];
  msg.wParam = key;
  msg.lParam = static_cast<LPARAM>(lParam);  // sign-extended
  if (OnShortcut && OnShortcut(msg)) args->put_Handled(TRUE);
}

// Teardown ------------------------------------------------------------------------

void TCustomEdgeBrowser::CloseWebView() {
  if (FWebView) {
    ICoreWebView2* w = FWebView.get();
    w->remove_NavigationStarting(FNavigationStartingToken);
    w->remove_NavigationCompleted(FNavigationCompletedToken);
    w->remove_SourceChanged(FSourceChangedToken);
    w->remove_HistoryChanged(FHistoryChangedToken);
    w->remove_ContentLoading(FContentLoadingToken);
    w->remove_DocumentTitleChanged(FDocumentTitleChangedToken);
    w->remove_NewWindowRequested(FNewWindowRequestedToken);
    w->remove_FrameNavigationStarting(FFrameNavigationStartingToken);
    w->remove_FrameNavigationCompleted(FFrameNavigationCompletedToken);
    w->remove_WebResourceRequested(FWebResourceRequestedToken);
    w->remove_ScriptDialogOpening(FScriptDialogOpeningToken);
    w->remove_PermissionRequested(FPermissionRequestedToken);
    w->remove_ProcessFailed(FProcessFailedToken);
    w->remove_WebMessageReceived(FWebMessageReceivedToken);
    w->remove_WindowCloseRequested(FWindowCloseRequestedToken);
    w->remove_ContainsFullScreenElementChanged(FContainsFullScreenElementChangedToken);
    ComPtr<ICoreWebView2_4> w4;
    if (SUCCEEDED(w->QueryInterface(IID_ICoreWebView2_4, reinterpret_cast<void**>(w4.Put()))) && w4)
      w4->remove_FrameCreated(FFrameCreatedToken);
    while (!FFrames.empty()) FrameGone(FFrames.back().frame.get());
    for (const auto& [name, token] : FDevToolsProtocolEventReceivedTokenMap) {
      ComPtr<ICoreWebView2DevToolsProtocolEventReceiver> receiver;
      if (RecordResult(w->GetDevToolsProtocolEventReceiver(Widen(name).c_str(), receiver.Put())) && receiver)
        receiver->remove_DevToolsProtocolEventReceived(token);
    }
    FDevToolsProtocolEventReceivedTokenMap.clear();
    FWebView.Reset();
  }
  if (FWebViewController) {
    ICoreWebView2Controller* c = FWebViewController.get();
    c->remove_AcceleratorKeyPressed(FAcceleratorKeyPressedToken);
    c->remove_GotFocus(FGotFocusToken);
    c->remove_LostFocus(FLostFocusToken);
    c->remove_MoveFocusRequested(FMoveFocusRequestedToken);
    c->remove_ZoomFactorChanged(FZoomFactorChangedToken);
    c->Close();
    FWebViewController.Reset();
  }
}

// Operations ------------------------------------------------------------------------

void TCustomEdgeBrowser::Navigate(const std::string& AUrl) {
  if (FWebView) {
    RecordResult(FWebView->Navigate(Widen(AUrl).c_str()));
  } else if (!IsBlank(AUrl)) {
    FLastURL = AUrl;
  }
}

void TCustomEdgeBrowser::NavigateToString(const std::string& AHTMLContent) {
  if (FWebView) RecordResult(FWebView->NavigateToString(Widen(AHTMLContent).c_str()));
}

void TCustomEdgeBrowser::ExecuteScript(const std::string& JavaScript, ScriptCompleted Completed) {
  if (!FWebView) {
    if (Completed) QueueOnUiThread([Completed] { Completed(E_FAIL, std::string()); });
    return;
  }
  std::weak_ptr<TCustomEdgeBrowser*> alive = FAlive;
  const HRESULT hr = FWebView->ExecuteScript(
      Widen(JavaScript).c_str(), VTL_HANDLER(ICoreWebView2ExecuteScriptCompletedHandler,
                                             [alive, Completed](HRESULT result, LPCWSTR json) {
                                               const std::string value = json ? Narrow(json) : std::string();
                                               if (Completed) Completed(result, value);
                                               const auto self = alive.lock();
                                               if (self && (*self)->OnExecuteScript)
                                                 (*self)->OnExecuteScript(**self, result, value);
                                               return S_OK;
                                             })
                                     .get());
  if (FAILED(hr) && Completed) QueueOnUiThread([Completed, hr] { Completed(hr, std::string()); });
}

void TCustomEdgeBrowser::AddWebResourceRequestedFilter(const std::string& URL,
                                                       COREWEBVIEW2_WEB_RESOURCE_CONTEXT ResourceContext) {
  if (FWebView) RecordResult(FWebView->AddWebResourceRequestedFilter(Widen(URL).c_str(), ResourceContext));
}

void TCustomEdgeBrowser::AddWebResourceRequestedFilterForAllSources(const std::string& URL,
                                                                   COREWEBVIEW2_WEB_RESOURCE_CONTEXT ResourceContext) {
  if (!FWebView) return;
  ComPtr<ICoreWebView2_22> w22;
  if (SUCCEEDED(FWebView->QueryInterface(IID_ICoreWebView2_22, reinterpret_cast<void**>(w22.Put()))) && w22) {
    RecordResult(w22->AddWebResourceRequestedFilterWithRequestSourceKinds(
        Widen(URL).c_str(), ResourceContext, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL));
  } else {
    AddWebResourceRequestedFilter(URL, ResourceContext);
  }
}

void TCustomEdgeBrowser::RemoveWebResourceRequestedFilter(const std::string& URL,
                                                          COREWEBVIEW2_WEB_RESOURCE_CONTEXT ResourceContext) {
  if (FWebView) RecordResult(FWebView->RemoveWebResourceRequestedFilter(Widen(URL).c_str(), ResourceContext));
}

void TCustomEdgeBrowser::GoBack() {
  if (FWebView) RecordResult(FWebView->GoBack());
}
void TCustomEdgeBrowser::GoForward() {
  if (FWebView) RecordResult(FWebView->GoForward());
}
void TCustomEdgeBrowser::Refresh() {
  if (FWebView) RecordResult(FWebView->Reload());
}
void TCustomEdgeBrowser::Stop() {
  if (FWebView) RecordResult(FWebView->Stop());
}

void TCustomEdgeBrowser::CapturePreview(const std::string& AFilename, TPreviewFormat PreviewFormat) {
  ComPtr<IStream> stream;
  if (!RecordResult(SHCreateStreamOnFileEx(Widen(AFilename).c_str(), STGM_CREATE | STGM_WRITE, FILE_ATTRIBUTE_NORMAL,
                                           TRUE, nullptr, stream.Put())))
    return;
  CapturePreview(stream.get(), PreviewFormat);
}

void TCustomEdgeBrowser::CapturePreview(IStream* Stream, TPreviewFormat PreviewFormat) {
  if (!FWebView || !Stream) return;
  Stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  std::weak_ptr<TCustomEdgeBrowser*> alive = FAlive;
  RecordResult(FWebView->CapturePreview(
      PreviewFormat == TPreviewFormat::PNG ? COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG
                                           : COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_JPEG,
      Stream, VTL_HANDLER(ICoreWebView2CapturePreviewCompletedHandler, [alive](HRESULT result) {
                const auto self = alive.lock();
                if (self && (*self)->OnCapturePreviewCompleted) (*self)->OnCapturePreviewCompleted(**self, result);
                return S_OK;
              }).get()));
}

void TCustomEdgeBrowser::SubscribeToCDPEvent(const std::string& CDPEventName) {
  if (!FWebView) return;
  ComPtr<ICoreWebView2DevToolsProtocolEventReceiver> receiver;
  if (!RecordResult(FWebView->GetDevToolsProtocolEventReceiver(Widen(CDPEventName).c_str(), receiver.Put())) ||
      !receiver)
    return;
  if (const auto it = FDevToolsProtocolEventReceivedTokenMap.find(CDPEventName);
      it != FDevToolsProtocolEventReceivedTokenMap.end())
    receiver->remove_DevToolsProtocolEventReceived(it->second);
  EventRegistrationToken token{};
  RecordResult(receiver->add_DevToolsProtocolEventReceived(
      VTL_HANDLER(ICoreWebView2DevToolsProtocolEventReceivedEventHandler,
                  [this, CDPEventName](ICoreWebView2*, ICoreWebView2DevToolsProtocolEventReceivedEventArgs* a) {
                    if (!OnDevToolsProtocolEventReceived) return S_OK;
                    LPWSTR json = nullptr;
                    a->get_ParameterObjectAsJson(&json);
                    OnDevToolsProtocolEventReceived(*this, CDPEventName, TakeString(json));
                    return S_OK;
                  })
          .get(),
      &token));
  FDevToolsProtocolEventReceivedTokenMap[CDPEventName] = token;
}

void TCustomEdgeBrowser::CloseBrowserProcess() {
  const uint32_t id = BrowserProcessID();
  CloseWebView();
  if (id == 0) return;
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
  if (!process) return;
  if (WaitForSingleObject(process, 2000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
  CloseHandle(process);
}

void TCustomEdgeBrowser::ReinitializeWebViewWithNewBrowser() {
  CloseBrowserProcess();
  ReinitializeWebView();
}

// Reads ------------------------------------------------------------------------------

double TCustomEdgeBrowser::ZoomFactor() {
  double factor = 0;
  if (FWebViewController && !RecordResult(FWebViewController->get_ZoomFactor(&factor))) factor = 0;
  return factor;
}

void TCustomEdgeBrowser::SetZoomFactor(double factor) {
  if (FWebViewController) RecordResult(FWebViewController->put_ZoomFactor(factor));
}

std::string TCustomEdgeBrowser::DocumentTitle() {
  if (!FWebView) return {};
  LPWSTR title = nullptr;
  const HRESULT hr = FWebView->get_DocumentTitle(&title);
  std::string text = TakeString(title);
  return SUCCEEDED(hr) ? text : std::string();
}

uint32_t TCustomEdgeBrowser::BrowserProcessID() {
  UINT32 id = 0;
  if (FWebView && !RecordResult(FWebView->get_BrowserProcessId(&id))) id = 0;
  return id;
}

std::string TCustomEdgeBrowser::BrowserVersionInfo() {
  std::string version;
  HRESULT hr;
  if (FWebView && FWebViewEnvironment) {
    LPWSTR text = nullptr;
    hr = FWebViewEnvironment->get_BrowserVersionString(&text);
    version = TakeString(text);
  } else {
    hr = GetBrowserVersionThroughLoader(version);
  }
  RecordResult(hr);
  return SUCCEEDED(hr) ? version : std::string();
}

bool TCustomEdgeBrowser::CanGoBack() {
  BOOL can = FALSE;
  return FWebView && RecordResult(FWebView->get_CanGoBack(&can)) && can;
}

bool TCustomEdgeBrowser::CanGoForward() {
  BOOL can = FALSE;
  return FWebView && RecordResult(FWebView->get_CanGoForward(&can)) && can;
}

bool TCustomEdgeBrowser::ContainsFullScreenElement() {
  BOOL contains = FALSE;
  return FWebView && RecordResult(FWebView->get_ContainsFullScreenElement(&contains)) && contains;
}

std::string TCustomEdgeBrowser::LocationURL() {
  if (!FWebView) return {};
  LPWSTR source = nullptr;
  RecordResult(FWebView->get_Source(&source));
  std::string url = TakeString(source);
  return AsciiIEquals(url, "about:blank") ? std::string() : url;
}

// Settings ---------------------------------------------------------------------------

bool TCustomEdgeBrowser::ReadSetting(HRESULT (STDMETHODCALLTYPE ICoreWebView2Settings::*getter)(BOOL*)) {
  BOOL value = FALSE;
  if (!FWebViewSettings || !RecordResult((FWebViewSettings.get()->*getter)(&value)))
    throw EEdgeError(kEdgeNotInstantiated, E_FAIL);
  return value != FALSE;
}

void TCustomEdgeBrowser::WriteSetting(HRESULT (STDMETHODCALLTYPE ICoreWebView2Settings::*setter)(BOOL), bool value) {
  if (!FWebViewSettings) throw EEdgeError(kEdgeNotInstantiated, E_FAIL);
  RecordResult((FWebViewSettings.get()->*setter)(value ? TRUE : FALSE));
}

#define VTL_EDGE_SETTING(Name, Getter, Setter)                                                            \
  bool TCustomEdgeBrowser::Name() { return ReadSetting(&ICoreWebView2Settings::Getter); }                  \
  void TCustomEdgeBrowser::Set##Name(bool value) { WriteSetting(&ICoreWebView2Settings::Setter, value); }
VTL_EDGE_SETTING(ScriptEnabled, get_IsScriptEnabled, put_IsScriptEnabled)
VTL_EDGE_SETTING(WebMessageEnabled, get_IsWebMessageEnabled, put_IsWebMessageEnabled)
VTL_EDGE_SETTING(DefaultScriptDialogsEnabled, get_AreDefaultScriptDialogsEnabled, put_AreDefaultScriptDialogsEnabled)
VTL_EDGE_SETTING(StatusBarEnabled, get_IsStatusBarEnabled, put_IsStatusBarEnabled)
VTL_EDGE_SETTING(DevToolsEnabled, get_AreDevToolsEnabled, put_AreDevToolsEnabled)
VTL_EDGE_SETTING(DefaultContextMenusEnabled, get_AreDefaultContextMenusEnabled, put_AreDefaultContextMenusEnabled)
VTL_EDGE_SETTING(ZoomControlEnabled, get_IsZoomControlEnabled, put_IsZoomControlEnabled)
VTL_EDGE_SETTING(BuiltInErrorPageEnabled, get_IsBuiltInErrorPageEnabled, put_IsBuiltInErrorPageEnabled)
#undef VTL_EDGE_SETTING

}  // namespace vtl::win32
