#include "win32/browser_form.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>

#include "core/document_script.h"
#include "core/mime_types.h"
#include "core/request_resolver.h"
#include "core/runtime_zip.h"
#include "core/str_utils.h"
#include "win32/body_stream.h"
#include "win32/mime_registry.h"
#include "win32/sys_utils.h"
#include "win32/text.h"
#include "win32/ui_queue.h"

namespace vtl::win32 {
namespace {

constexpr wchar_t kClassName[] = L"VantrelBrowserForm";
constexpr int kProgressBarHeight = 4;

// Files beside the executable and at absolute paths, read whole.
class DiskFileReader final : public FileReader {
 public:
  bool ReadWholeFile(const std::string& path, std::string& out) override {
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) out.reserve(static_cast<size_t>(size.QuadPart));
    char buffer[1 << 16];
    DWORD got = 0;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) out.append(buffer, got);
    CloseHandle(file);
    if (!ok) out.clear();
    return ok;
  }
};

const MimeTypeTable& MimeTypes() {
  static const RegistryMimeSource registry;
  static const MimeTypeTable table(&registry);
  return table;
}

// The bridge script resource as it is stored.
std::string_view BridgeScriptResource() {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC info = FindResourceW(module, L"VTL_EXTERNAL_JAVASCRIPT", MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!info) return {};
  const HGLOBAL data = LoadResource(module, info);
  const void* bytes = data ? LockResource(data) : nullptr;
  return bytes ? std::string_view(static_cast<const char*>(bytes), SizeofResource(module, info)) : std::string_view();
}

std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

TBrowserForm::TBrowserForm() : FEdgeBrowser(std::make_unique<TEdgeBrowser>()) {
  const std::string exe = ExecutablePath();
  AppDirPath = exe.substr(0, exe.find_last_of("\\/") + 1);

  TEdgeBrowser& edge = *FEdgeBrowser;
  edge.OnCreateWebViewCompleted = [this](TCustomEdgeBrowser&, HRESULT result) {
    EdgeBrowserCreateWebViewCompleted(result);
  };
  edge.OnNavigationCompleted = [this](TCustomEdgeBrowser&, bool success, COREWEBVIEW2_WEB_ERROR_STATUS) {
    if (success) recovering_ = false;
    // The loading bar goes after the first navigation, whatever its outcome.
    if (progressBar_) {
      DestroyWindow(progressBar_);
      progressBar_ = nullptr;
      Layout();
    }
  };
  edge.OnNewWindowRequested = [this](TCustomEdgeBrowser&, TNewWindowRequestedEventArgs& args) {
    EdgeBrowserNewWindowRequested(args);
  };
  edge.OnPermissionRequested = [](TCustomEdgeBrowser&, TPermissionRequestedEventArgs& args) {
    args.ArgsInterface()->put_State(COREWEBVIEW2_PERMISSION_STATE_ALLOW);
  };
  edge.OnProcessFailed = [this](TCustomEdgeBrowser&, COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
    EdgeBrowserProcessFailed(kind);
  };
  edge.OnWebResourceRequested = [this](TCustomEdgeBrowser&, TWebResourceRequestedEventArgs& args) {
    EdgeBrowserWebResourceRequested(args);
  };
  // Packaged, the main window routes web messages to the bridge instead.
  edge.OnWebMessageReceived = [](TCustomEdgeBrowser&, TWebMessageReceivedEventArgs&) {};
}

TBrowserForm::~TBrowserForm() {
  FEdgeBrowser.reset();
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void TBrowserForm::SetParent(HWND parent) {
  if (!hwnd_) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 658,
                            484, parent, nullptr, wc.hInstance, this);
    progressBar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_MARQUEE, 0, 0, 0, 0, hwnd_,
                                   nullptr, wc.hInstance, nullptr);
    if (progressBar_) SendMessageW(progressBar_, PBM_SETMARQUEE, TRUE, 0);
  } else {
    ::SetParent(hwnd_, parent);
  }
  FEdgeBrowser->SetParent(hwnd_);
  Layout();
}

void TBrowserForm::SetBounds(const RECT& bounds) {
  if (hwnd_) MoveWindow(hwnd_, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
}

LRESULT CALLBACK TBrowserForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE)
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  auto* self = reinterpret_cast<TBrowserForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && message == WM_SIZE) {
    self->Layout();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The web view fills the form above the loading bar.
void TBrowserForm::Layout() {
  if (!hwnd_) return;
  RECT client{};
  GetClientRect(hwnd_, &client);
  RECT web = client;
  if (progressBar_) {
    web.bottom = std::max(client.top, client.bottom - kProgressBarHeight);
    MoveWindow(progressBar_, client.left, web.bottom, client.right - client.left, client.bottom - web.bottom, TRUE);
  }
  FEdgeBrowser->SetBounds(web);
}

void TBrowserForm::EdgeBrowserCreateWebViewCompleted(HRESULT AResult) {
  if (FAILED(AResult)) return;
  TEdgeBrowser& edge = *FEdgeBrowser;
  // The start page opens once the document script is in place: WebView2
  // applies it from the first navigation after its completion handler ran.
  InjectScripts([this, webView = ComPtr<ICoreWebView2>(edge.DefaultInterface())] {
    if (FEdgeBrowser->DefaultInterface() != webView.get()) return;  // a newer web view took over
    if (!StartPageURL.empty()) FEdgeBrowser->Navigate(StartPageURL);
  });
  if (ICoreWebView2Settings* settings = edge.SettingsInterface()) {
    settings->put_IsScriptEnabled(TRUE);
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_IsWebMessageEnabled(TRUE);
    settings->put_IsBuiltInErrorPageEnabled(TRUE);
    settings->put_IsZoomControlEnabled(AllowZoom);
    settings->put_AreDevToolsEnabled(AllowDebug);
    settings->put_AreDefaultContextMenusEnabled(AllowContextMenu);
  }
  // Every request of every frame and worker of a package page.
  edge.AddWebResourceRequestedFilterForAllSources("*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL);
}

void TBrowserForm::InjectScripts(std::function<void()> ready) {
  ICoreWebView2* webView = FEdgeBrowser->DefaultInterface();
  if (!webView) return;
  const std::string script = BuildDocumentScript(WithExternal, BridgeScriptResource(), WebviewJavascript);
  // The form outlives neither its control nor the handler's call: the handler
  // holds the form's liveness weakly.
  std::weak_ptr<void> alive = alive_;
  const auto handler = ComHandler<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>::Create(
      IID_ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler,
      [alive, ready](HRESULT, LPCWSTR) {
        // Navigated whatever the outcome: a page without the bridge is better
        // than no page.
        if (!alive.expired() && ready) ready();
        return S_OK;
      });
  if (FAILED(webView->AddScriptToExecuteOnDocumentCreated(Widen(script).c_str(), handler.get())) && ready) ready();
}

// As WebView2 recommends: a renderer that exited (the web view then shows an
// error page) or hangs is reloaded; a browser process that exited has closed
// the web view for good, and a new one is made, which opens the start page
// again. A page that fails again before a navigation of it completed is left
// as it is, so that a page that always crashes is not reloaded for ever.
void TBrowserForm::EdgeBrowserProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
  switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
      if (OnPageLost) OnPageLost();
      if (recovering_) return;
      recovering_ = true;
      FEdgeBrowser->Refresh();
      return;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED: {
      if (OnPageLost) OnPageLost();
      // After the handler has returned: the web view it belongs to goes.
      std::weak_ptr<void> alive = alive_;
      QueueOnUiThread([this, alive] {
        if (!alive.expired()) FEdgeBrowser->ReinitializeWebView();
      });
      return;
    }
    default:
      return;  // frames, helper and GPU processes: the web view recovers on its own
  }
}

void TBrowserForm::EdgeBrowserNewWindowRequested(TNewWindowRequestedEventArgs& Args) {
  LPWSTR uri = nullptr;
  if (FAILED(Args.ArgsInterface()->get_Uri(&uri)) || !uri) return;
  const std::string address = Narrow(uri);
  CoTaskMemFree(uri);
  if (address.size() < 5 || !AsciiIEquals(std::string_view(address).substr(0, 5), "file:")) return;
  Args.ArgsInterface()->put_Handled(TRUE);
  TSysUtils::ShellExec(ExecutablePath(), "\"" + RuntimeAppID + "\" \"" + address + "\"");
}

void TBrowserForm::EdgeBrowserWebResourceRequested(TWebResourceRequestedEventArgs& Args) {
  if (!HandleRequests) return;
  ICoreWebView2Environment* environment = FEdgeBrowser->EnvironmentInterface();
  if (!environment) return;
  ComPtr<ICoreWebView2WebResourceRequest> request;
  if (FAILED(Args.ArgsInterface()->get_Request(request.Put())) || !request) return;
  LPWSTR uri = nullptr;
  if (FAILED(request->get_Uri(&uri)) || !uri) return;
  const std::string address = Narrow(uri);
  CoTaskMemFree(uri);
  // Media elements ask for parts of a file; no header, or none readable, asks for all of it.
  std::string range;
  ComPtr<ICoreWebView2HttpRequestHeaders> headers;
  if (SUCCEEDED(request->get_Headers(headers.Put())) && headers) {
    LPWSTR value = nullptr;
    if (SUCCEEDED(headers->GetHeader(L"Range", &value)) && value) range = Narrow(value);
    if (value) CoTaskMemFree(value);
  }

  DiskFileReader files;
  // Never destroyed: the web view may release a stream at any time, on any
  // thread, even while the process ends.
  static BodyPool* const bodies = new BodyPool();
  auto response = ServeRequest(address, ExeZip, AppDirName, AppDirPath, MimeTypes(), files, bodies, range);
  if (!response) return;
  // The stream takes the body over and lives as long as the response; its
  // memory then serves a later request.
  const auto stream = ComPtr<IStream>::Attach(
      CreateBodyStream(std::move(response->body), [](std::string&& body) { bodies->Give(std::move(body)); }));
  ComPtr<ICoreWebView2WebResourceResponse> answer;
  environment->CreateWebResourceResponse(stream.get(), response->status, Widen(response->reason).c_str(),
                                         Widen(response->headers).c_str(), answer.Put());
  if (answer) Args.ArgsInterface()->put_Response(answer.get());
}

}  // namespace vtl::win32
