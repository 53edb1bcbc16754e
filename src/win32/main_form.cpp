#include "win32/main_form.h"

#include <algorithm>

#include "core/runtime_zip.h"
#include "win32/bridge_services.h"
#include "win32/browser_form.h"
#include "win32/forms/rounded_form.h"
#include "win32/text.h"
#include "win32/ui_queue.h"

namespace vtl::win32 {
namespace {

// A web message's JSON text and the address of the document that sent it;
// false when the message has no JSON text.
bool ReadMessage(ICoreWebView2WebMessageReceivedEventArgs* args, std::string& json, std::string& source) {
  LPWSTR text = nullptr;
  if (FAILED(args->get_WebMessageAsJson(&text)) || !text) return false;
  json = Narrow(text);
  CoTaskMemFree(text);
  if (LPWSTR uri = nullptr; SUCCEEDED(args->get_Source(&uri)) && uri) {
    source = Narrow(uri);
    CoTaskMemFree(uri);
  }
  return true;
}

constexpr wchar_t kClassName[] = L"VantrelMainForm";

struct BorderBits {
  DWORD style;
  DWORD exStyle;
};

// The border styles by number; numbers outside 0 to 5 count as sizeable,
// the default.
BorderBits BorderStyleBits(int borderStyle) {
  constexpr DWORD kCaption = WS_CAPTION | WS_SYSMENU;
  switch (borderStyle) {
    case 0: return {WS_POPUP, 0};
    case 1: return {kCaption | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, 0};
    case 3: return {kCaption, WS_EX_DLGMODALFRAME};
    case 4: return {kCaption, WS_EX_TOOLWINDOW};
    case 5: return {kCaption | WS_THICKFRAME, WS_EX_TOOLWINDOW};
    default: return {WS_OVERLAPPEDWINDOW, 0};
  }
}
constexpr DWORD kBorderStyleMask = WS_POPUP | WS_OVERLAPPEDWINDOW;
constexpr DWORD kBorderExStyleMask = WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE;

int Clamp(int value, int minimum, int maximum) {
  if (maximum > 0) value = std::min(value, maximum);
  if (minimum > 0) value = std::max(value, minimum);
  return value;
}

}  // namespace

TMainForm::TMainForm(const Runtime& runtime, StyleManager& styles) : runtime_(runtime), styles_(styles) {}

TMainForm::~TMainForm() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    FormClose();
    DestroyWindow(hwnd_);
  }
}

bool TMainForm::Create() {
  const IniDocument& ini = runtime_.RuntimeINI;
  maxWidth_ = ini.ReadInteger("App", "MaxWidth", 0);
  maxHeight_ = ini.ReadInteger("App", "MaxHeight", 0);
  minWidth_ = ini.ReadInteger("App", "MinWidth", 0);
  minHeight_ = ini.ReadInteger("App", "MinHeight", 0);
  const int width = Clamp(ini.ReadInteger("App", "Width", 800), minWidth_, maxWidth_);
  const int height = Clamp(ini.ReadInteger("App", "Height", 600), minHeight_, maxHeight_);
  int left = ini.ReadInteger("App", "Left", 50);
  int top = ini.ReadInteger("App", "Top", 50);
  // Both position modes choose where the window first appears.
  if (ini.ReadInteger("App", "WindowPosition", 0) == 0) {
    left = GetSystemMetrics(SM_XVIRTUALSCREEN) + (GetSystemMetrics(SM_CXVIRTUALSCREEN) - width) / 2;
    top = GetSystemMetrics(SM_YVIRTUALSCREEN) + (GetSystemMetrics(SM_CYVIRTUALSCREEN) - height) / 2;
  } else {
    left = top = CW_USEDEFAULT;
  }
  const bool fullScreen = ini.ReadInteger("App", "WindowStyle", 0) == 1;
  const BorderBits border = BorderStyleBits(fullScreen ? 0 : ini.ReadInteger("App", "WindowBorder", 2));
  DWORD exStyle = border.exStyle | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
  if (ini.ReadInteger("App", "WindowOrder", 0) == 1) exStyle |= WS_EX_TOPMOST;

  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, L"MAINICON");
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  hwnd_ = CreateWindowExW(exStyle, kClassName, Widen(runtime_.RuntimeAppName).c_str(),
                          border.style | WS_CLIPCHILDREN, left, top, width, height, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;
  ApplyRoundedCorners(hwnd_);
  FormCreate();

  int show = SW_SHOWNORMAL;
  if (fullScreen) {
    FBrowserExternalModule->InFullscreen = true;
    show = SW_SHOWMAXIMIZED;
  } else if (ini.ReadInteger("App", "WindowState", 0) == 1) {
    show = SW_SHOWMAXIMIZED;
  }
  ShowWindow(hwnd_, show);
  UpdateWindow(hwnd_);
  return true;
}

void TMainForm::FormCreate() {
  FCanClose = false;
  adapters_ = CreateBridgeServices(*this, styles_);
  FBrowserExternalModule = std::make_unique<TBrowserExternalModule>(adapters_->services);
  ConnectBridgeModule(*adapters_, *FBrowserExternalModule);
  // Keys pressed in the page reach the main menu's access keys first.
  OnShortcut = [this](const MSG& message) {
    return adapters_ && adapters_->externalForm &&
           adapters_->externalForm->TranslateShortcut(message.message, message.wParam, message.lParam);
  };
  FBrowserExternalModule->ExeZip = const_cast<RuntimeZip*>(&runtime_.RuntimeZip);
  FBrowserExternalModule->AppDirName = runtime_.RuntimeAppDirName;
  FBrowserExternalModule->Scope = ParseBridgeScope(runtime_.RuntimeINI.ReadString("App", "BridgeScope", "all"));

  FBrowserForm = std::make_unique<TBrowserForm>();
  FBrowserForm->SetParent(hwnd_);
  RECT client{};
  GetClientRect(hwnd_, &client);
  FBrowserForm->SetBounds(client);

  const IniDocument& ini = runtime_.RuntimeINI;
  TBrowserForm& browser = *FBrowserForm;
  browser.ExeZip = &runtime_.RuntimeZip;
  browser.IsRuntime = true;
  browser.AppDirName = runtime_.RuntimeAppDirName;
  browser.HandleRequests = true;
  browser.RuntimeAppID = runtime_.RuntimeAppID;
  browser.WithExternal = true;
  browser.AllowDebug = ini.ReadBool("App", "AllowDebug", false);
  browser.AllowZoom = ini.ReadBool("App", "AllowZoom", false);
  browser.AllowContextMenu = ini.ReadBool("App", "AllowContextMenu", false);

  TEdgeBrowser& edge = browser.EdgeBrowser();
  edge.OnWebMessageReceived = [this](TCustomEdgeBrowser&, TWebMessageReceivedEventArgs& args) {
    std::string text, source;
    if (!ReadMessage(args.ArgsInterface(), text, source)) return;
    FBrowserExternalModule->EdgeBrowserWebMessageReceived(text, source);
  };
  // An iframe's requests are answered on its own frame object.
  edge.OnFrameWebMessageReceived = [this](TCustomEdgeBrowser&, ICoreWebView2Frame2* frame,
                                          TWebMessageReceivedEventArgs& args) {
    std::string text, source;
    if (!ReadMessage(args.ArgsInterface(), text, source)) return;
    auto& port = framePorts_[frame];
    if (!port) port = std::make_shared<FramePort>(frame);
    FBrowserExternalModule->EdgeBrowserWebMessageReceived(text, port, source);
  };
  edge.OnFrameDestroyed = [this](TCustomEdgeBrowser&, ICoreWebView2Frame2* frame) { framePorts_.erase(frame); };
  edge.OnDocumentTitleChanged = [this](TCustomEdgeBrowser&, const std::string& title) {
    EdgeBrowserDocumentTitleChanged(title);
  };
  edge.OnShortcut = [this](const MSG& message) { return OnShortcut && OnShortcut(message); };

  // The page of a failed renderer or browser cannot answer a close query
  // that is still open.
  browser.OnPageLost = [this] {
    if (!closeQueryPending_) return;
    closeQueryPending_ = false;
    CloseNow();
  };

  FBrowserExternalModule->ProjectINI = &runtime_.RuntimeINI;
  FBrowserExternalModule->OnAppCloseRequest = [this] { BrowserExternalModuleAppCloseRequest(); };

  std::string userScript;
  runtime_.RuntimeZip.Extract("vtl-webviewjs", userScript);
  browser.WebviewJavascript = std::move(userScript);

  if (const auto url = RelaunchStartUrl(runtime_)) {
    browser.StartPageURL = *url;
  } else {
    browser.StartPageURL = "file:///" + runtime_.RuntimeIndexHtml;
  }
}

// The page decides when it can: the first close is refused and the page is
// asked; its vtl.app.close() allows the next. Whether it can answer is known
// from the close script's value, which is true only when the page's
// onCloseQuery ran. Without a web view (never created, failed, closed, being
// made anew after its browser exited), with a page that cannot run the
// handler (no bridge, an error page, a crashed renderer, a handler that
// throws), or a renderer that fails while asked, nobody can answer, and the
// window closes at once.
bool TMainForm::FormCloseQuery() {
  TEdgeBrowser* edge = Edge();
  if (FCanClose || !edge || !edge->WebViewCreated()) {
    if (FBrowserExternalModule) FBrowserExternalModule->RaiseEvent(CloseQueryEventScript());
    return true;
  }
  closeQueryPending_ = true;
  edge->ExecuteScript(CloseQueryEventScript(), [this, alive = std::weak_ptr<int>(alive_)](HRESULT result,
                                                                                       const std::string& value) {
    if (alive.expired() || !closeQueryPending_) return;
    closeQueryPending_ = false;
    if (FAILED(result) || value != "true") CloseNow();
  });
  return false;
}

void TMainForm::CloseNow() {
  FCanClose = true;
  // Posted: this runs inside a handler of the web view, which must return
  // before the window and the web view go.
  if (hwnd_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TMainForm::FormClose() {
  // The menus and the tray icon raise page events through the module: they
  // go first. Toast clicks are dropped from here on.
  if (adapters_) {
    adapters_->externalForm.reset();
    adapters_->notifications.SetClickHandler({});
  }
  FBrowserExternalModule.reset();
  FBrowserForm.reset();
  adapters_.reset();
}

void TMainForm::EdgeBrowserDocumentTitleChanged(const std::string& ADocumentTitle) {
  if (runtime_.RuntimeINI.ReadBool("App", "DynamicAppTitle", false)) SetCaption(ADocumentTitle);
}

void TMainForm::BrowserExternalModuleAppCloseRequest() { CloseNow(); }

TEdgeBrowser* TMainForm::Edge() const { return FBrowserForm ? &FBrowserForm->EdgeBrowser() : nullptr; }

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* created = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    created->hwnd_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* self = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (FBrowserForm) {
        RECT client{};
        GetClientRect(hwnd_, &client);
        FBrowserForm->SetBounds(client);
      }
      break;
    case WM_SETFOCUS:
      if (TEdgeBrowser* edge = Edge()) edge->SetFocus();
      return 0;
    case WM_MENUCOMMAND:
      if (adapters_ && adapters_->externalForm && adapters_->externalForm->HandleMenuCommand(message, wParam, lParam))
        return 0;
      break;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      if (maxWidth_ > 0) info->ptMaxTrackSize.x = info->ptMaxSize.x = maxWidth_;
      if (maxHeight_ > 0) info->ptMaxTrackSize.y = info->ptMaxSize.y = maxHeight_;
      if (minWidth_ > 0) info->ptMinTrackSize.x = minWidth_;
      if (minHeight_ > 0) info->ptMinTrackSize.y = minHeight_;
      return 0;
    }
    case WM_WINDOWPOSCHANGING: {
      // The system holds only framed windows to the limits above; these hold
      // in every border style and in full screen. A minimised window has the
      // system's own size.
      auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
      if ((position->flags & SWP_NOSIZE) == 0 && !IsIconic(hwnd_)) {
        position->cx = Clamp(position->cx, minWidth_, maxWidth_);
        position->cy = Clamp(position->cy, minHeight_, maxHeight_);
      }
      break;
    }
    case WM_CLOSE:
      if (FormCloseQuery()) DestroyWindow(hwnd_);
      return 0;
    case WM_QUERYENDSESSION:
      return FormCloseQuery() ? TRUE : FALSE;
    case WM_DESTROY:
      FormClose();
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

// The window's face ---------------------------------------------------------------

void TMainForm::SetVisible(bool visible) {
  if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
}

void TMainForm::SetBorderStyle(int borderStyle) {
  if (!hwnd_) return;
  const BorderBits bits = BorderStyleBits(borderStyle);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
  SetWindowLongPtrW(hwnd_, GWL_STYLE, static_cast<LONG_PTR>((style & ~kBorderStyleMask) | bits.style));
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, static_cast<LONG_PTR>((exStyle & ~kBorderExStyleMask) | bits.exStyle));
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainForm::EnterFullScreen() {
  SetBorderStyle(0);
  if (hwnd_) ShowWindow(hwnd_, SW_MAXIMIZE);
}

void TMainForm::ExitFullScreen(int borderStyle) {
  if (hwnd_) ShowWindow(hwnd_, SW_RESTORE);
  SetBorderStyle(borderStyle);
}

std::string TMainForm::Caption() const {
  if (!hwnd_) return {};
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd_)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd_, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

void TMainForm::SetCaption(const std::string& caption) {
  if (hwnd_) SetWindowTextW(hwnd_, Widen(caption).c_str());
}

// WebViewPort ------------------------------------------------------------------------

TMainForm::FramePort::FramePort(ICoreWebView2Frame2* frame) : frame_(frame) {}

void TMainForm::FramePort::PostWebMessageAsJson(const std::string& json) {
  frame_->PostWebMessageAsJson(Widen(json).c_str());
}

void TMainForm::PostWebMessageAsJson(const std::string& json) {
  TEdgeBrowser* edge = Edge();
  if (ICoreWebView2* webView = edge ? edge->DefaultInterface() : nullptr)
    webView->PostWebMessageAsJson(Widen(json).c_str());
}

void TMainForm::ExecuteScript(const std::string& script) {
  if (TEdgeBrowser* edge = Edge()) edge->ExecuteScript(script);
}

double TMainForm::ZoomFactor() const {
  TEdgeBrowser* edge = Edge();
  return edge ? edge->ZoomFactor() : 0;
}

void TMainForm::SetZoomFactor(double factor) {
  if (TEdgeBrowser* edge = Edge()) edge->SetZoomFactor(factor);
}

// The program's run -------------------------------------------------------------------

int RunMainForm(const Runtime& runtime, StyleManager& styles) {
  // The web view's objects live in this thread's single-threaded apartment.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  InitializeUiQueue();
  WebView2LoaderDllPath = Widen(runtime.WebView2LoaderDllPath);
  {
    TMainForm form(runtime, styles);
    if (!form.Create()) {
      if (SUCCEEDED(com)) CoUninitialize();
      return 1;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  UnloadWebView2Loader();
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

}  // namespace vtl::win32
