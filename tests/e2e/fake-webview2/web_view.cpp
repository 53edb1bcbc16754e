// The fake's web view: environment, controller, web view, settings, and the
// arguments of the events it raises, with no browser behind them. It writes
// down every call the runtime makes, and raises events only when the
// scenario asks (DESIGN.md, "The fake WebView2 loader: contract").

#include <windows.h>

#include <WebView2.h>

#include <cstdint>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/page.h"
#include "fake_loader.h"
#include "transcript.h"
#include "webview2_stubs.h"
#include "win32/com_ptr.h"
#include "win32/text.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

namespace fake {
namespace {

using vtl::win32::ComPtr;
using vtl::win32::Narrow;
using vtl::win32::Widen;

void Log(std::initializer_list<std::string_view> fields) {
  if (const auto& transcript = Role().transcript) vtl::fake::AppendLine(*transcript, fields);
}

LPWSTR CopyToTaskMemory(const std::string& text) {
  const std::wstring wide = Widen(text);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
  if (copy) {
    wide.copy(copy, wide.size());
    copy[wide.size()] = L'\0';
  }
  return copy;
}

HRESULT GiveString(const std::string& text, LPWSTR* out) {
  if (!out) return E_POINTER;
  *out = CopyToTaskMemory(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

template <class I>
HRESULT GiveInterface(I* object, I** out) {
  if (!out) return E_POINTER;
  *out = object;
  if (object) object->AddRef();
  return S_OK;
}

// A COM object of one interface: IUnknown and `iid`, nothing else.
template <class Stub, const IID& iid>
class Com : public vtl::win32::ComObject<Stub> {
  bool Answers(REFIID riid) const override { return IsEqualIID(riid, iid); }
};

template <class T, class... A>
ComPtr<T> Make(A&&... args) {
  return ComPtr<T>::Attach(new T(std::forward<A>(args)...));
}

// Handlers registered for one event.
int64_t nextToken = 1;
template <class H>
class Handlers {
 public:
  HRESULT Add(H* handler, EventRegistrationToken* token) {
    if (!handler || !token) return E_POINTER;
    token->value = nextToken++;
    list_.emplace_back(token->value, ComPtr<H>(handler));
    return S_OK;
  }
  HRESULT Remove(EventRegistrationToken token) {
    std::erase_if(list_, [&](const auto& entry) { return entry.first == token.value; });
    return S_OK;
  }
  template <class... A>
  void Raise(A... args) {
    const auto copy = list_;
    for (const auto& entry : copy) entry.second->Invoke(args...);
  }
  bool Empty() const { return list_.empty(); }

 private:
  std::vector<std::pair<int64_t, ComPtr<H>>> list_;
};

#define VTL_FAKE_EVENT(Name, Handler)                                                                      \
  Handlers<Handler> Name##Handlers;                                                                        \
  HRESULT STDMETHODCALLTYPE add_##Name(Handler* handler, EventRegistrationToken* token) override {         \
    return Name##Handlers.Add(handler, token);                                                             \
  }                                                                                                        \
  HRESULT STDMETHODCALLTYPE remove_##Name(EventRegistrationToken token) override {                        \
    return Name##Handlers.Remove(token);                                                                   \
  }

// Work for later on the thread of the web view ---------------------------------------

constexpr UINT kRunTasks = WM_APP + 7;
constexpr UINT_PTR kWaitTimer = 1;
HWND fakeWindow = nullptr;
std::deque<std::function<void()>> tasks;
void ContinueScenario();

LRESULT CALLBACK FakeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunTasks) {
    if (!tasks.empty()) {
      auto task = std::move(tasks.front());
      tasks.pop_front();
      task();
    }
    return 0;
  }
  if (message == WM_TIMER && wParam == kWaitTimer) {
    KillTimer(window, kWaitTimer);
    ContinueScenario();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Later(std::function<void()> task) {
  if (!fakeWindow) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = FakeWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VtlFakeWebView2";
    RegisterClassW(&wc);
    fakeWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  tasks.push_back(std::move(task));
  PostMessageW(fakeWindow, kRunTasks, 0, 0);
}

// Settings ----------------------------------------------------------------------------

#define VTL_FAKE_SETTING(Name)                                           \
  BOOL Name##Value = TRUE;                                              \
  HRESULT STDMETHODCALLTYPE get_##Name(BOOL* value) override {          \
    if (!value) return E_POINTER;                                       \
    *value = Name##Value;                                               \
    return S_OK;                                                        \
  }                                                                     \
  HRESULT STDMETHODCALLTYPE put_##Name(BOOL value) override {           \
    Name##Value = value;                                                \
    Log({"setting", #Name, value ? "1" : "0"});                         \
    if (changed) changed(#Name, value != FALSE);                        \
    return S_OK;                                                        \
  }

class Settings final : public Com<Stub_ICoreWebView2Settings, IID_ICoreWebView2Settings> {
 public:
  std::function<void(const std::string&, bool)> changed;  // the browser mode applies what it can
  VTL_FAKE_SETTING(IsScriptEnabled)
  VTL_FAKE_SETTING(IsWebMessageEnabled)
  VTL_FAKE_SETTING(AreDefaultScriptDialogsEnabled)
  VTL_FAKE_SETTING(IsStatusBarEnabled)
  VTL_FAKE_SETTING(AreDevToolsEnabled)
  VTL_FAKE_SETTING(AreDefaultContextMenusEnabled)
  VTL_FAKE_SETTING(AreHostObjectsAllowed)
  VTL_FAKE_SETTING(IsZoomControlEnabled)
  VTL_FAKE_SETTING(IsBuiltInErrorPageEnabled)
};

// Requests and responses ---------------------------------------------------------------

class Request final : public Com<Stub_ICoreWebView2WebResourceRequest, IID_ICoreWebView2WebResourceRequest> {
 public:
  explicit Request(std::string uri) : uri_(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return GiveString(uri_, uri); }
  HRESULT STDMETHODCALLTYPE get_Method(LPWSTR* method) override { return GiveString("GET", method); }

 private:
  std::string uri_;
};

// Made only by this environment's CreateWebResourceResponse.
class Response final : public Com<Stub_ICoreWebView2WebResourceResponse, IID_ICoreWebView2WebResourceResponse> {
 public:
  Response(IStream* content, int status, std::string reason, std::string headers)
      : content_(content), status_(status), reason_(std::move(reason)), headers_(std::move(headers)) {}
  HRESULT STDMETHODCALLTYPE get_Content(IStream** content) override { return GiveInterface(content_.get(), content); }
  HRESULT STDMETHODCALLTYPE put_Content(IStream* content) override {
    content_ = ComPtr<IStream>(content);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_StatusCode(int* status) override {
    if (!status) return E_POINTER;
    *status = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ReasonPhrase(LPWSTR* reason) override { return GiveString(reason_, reason); }
  const std::string& headers() const { return headers_; }
  int status() const { return status_; }
  const std::string& reason() const { return reason_; }
  IStream* content() const { return content_.get(); }

 private:
  ComPtr<IStream> content_;
  int status_;
  std::string reason_, headers_;
};

class ResourceRequestedArgs final
    : public Com<Stub_ICoreWebView2WebResourceRequestedEventArgs, IID_ICoreWebView2WebResourceRequestedEventArgs> {
 public:
  explicit ResourceRequestedArgs(std::string uri) : request_(Make<Request>(std::move(uri))) {}
  HRESULT STDMETHODCALLTYPE get_Request(ICoreWebView2WebResourceRequest** request) override {
    return GiveInterface<ICoreWebView2WebResourceRequest>(request_.get(), request);
  }
  HRESULT STDMETHODCALLTYPE get_Response(ICoreWebView2WebResourceResponse** response) override {
    return GiveInterface(response_.get(), response);
  }
  HRESULT STDMETHODCALLTYPE put_Response(ICoreWebView2WebResourceResponse* response) override {
    response_ = ComPtr<ICoreWebView2WebResourceResponse>(response);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ResourceContext(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* context) override {
    if (!context) return E_POINTER;
    *context = COREWEBVIEW2_WEB_RESOURCE_CONTEXT_DOCUMENT;
    return S_OK;
  }
  ICoreWebView2WebResourceResponse* response() const { return response_.get(); }

 private:
  ComPtr<Request> request_;
  ComPtr<ICoreWebView2WebResourceResponse> response_;
};

class MessageArgs final
    : public Com<Stub_ICoreWebView2WebMessageReceivedEventArgs, IID_ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  MessageArgs(std::string source, std::string json) : source_(std::move(source)), json_(std::move(json)) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* source) override { return GiveString(source_, source); }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* json) override { return GiveString(json_, json); }
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* text) override {
    if (text) *text = nullptr;
    return E_INVALIDARG;  // the fake sends JSON only
  }

 private:
  std::string source_, json_;
};

class NewWindowArgs final
    : public Com<Stub_ICoreWebView2NewWindowRequestedEventArgs, IID_ICoreWebView2NewWindowRequestedEventArgs> {
 public:
  explicit NewWindowArgs(std::string uri) : uri_(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return GiveString(uri_, uri); }
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
    handled_ = handled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override {
    if (!handled) return E_POINTER;
    *handled = handled_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* initiated) override {
    if (!initiated) return E_POINTER;
    *initiated = TRUE;
    return S_OK;
  }
  bool handled() const { return handled_ != FALSE; }

 private:
  std::string uri_;
  BOOL handled_ = FALSE;
};

struct PermissionName {
  const char* name;
  COREWEBVIEW2_PERMISSION_KIND kind;
};
constexpr PermissionName kPermissionNames[] = {
    {"unknown", COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION},
    {"microphone", COREWEBVIEW2_PERMISSION_KIND_MICROPHONE},
    {"camera", COREWEBVIEW2_PERMISSION_KIND_CAMERA},
    {"geolocation", COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION},
    {"notifications", COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS},
    {"other-sensors", COREWEBVIEW2_PERMISSION_KIND_OTHER_SENSORS},
    {"clipboard-read", COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ},
};
constexpr const char* kPermissionStates[] = {"default", "allow", "deny"};

class PermissionArgs final
    : public Com<Stub_ICoreWebView2PermissionRequestedEventArgs, IID_ICoreWebView2PermissionRequestedEventArgs> {
 public:
  PermissionArgs(std::string uri, COREWEBVIEW2_PERMISSION_KIND kind) : uri_(std::move(uri)), kind_(kind) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return GiveString(uri_, uri); }
  HRESULT STDMETHODCALLTYPE get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND* kind) override {
    if (!kind) return E_POINTER;
    *kind = kind_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* initiated) override {
    if (!initiated) return E_POINTER;
    *initiated = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_State(COREWEBVIEW2_PERMISSION_STATE* state) override {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE state) override {
    state_ = state;
    return S_OK;
  }
  COREWEBVIEW2_PERMISSION_STATE state() const { return state_; }

 private:
  std::string uri_;
  COREWEBVIEW2_PERMISSION_KIND kind_;
  COREWEBVIEW2_PERMISSION_STATE state_ = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
};

class ProcessFailedArgs final
    : public Com<Stub_ICoreWebView2ProcessFailedEventArgs, IID_ICoreWebView2ProcessFailedEventArgs> {
 public:
  explicit ProcessFailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND kind) : kind_(kind) {}
  HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) override {
    if (!kind) return E_POINTER;
    *kind = kind_;
    return S_OK;
  }

 private:
  COREWEBVIEW2_PROCESS_FAILED_KIND kind_;
};

// The web view and its controller -------------------------------------------------------

class WebView;
WebView* currentWebView = nullptr;
HWND hostWindow = nullptr;  // the controller's parent window

class WebView final : public Com<Stub_ICoreWebView2, IID_ICoreWebView2> {
 public:
  WebView() : settings_(Make<Settings>()) { currentWebView = this; }
  explicit WebView(std::unique_ptr<engine::Page> page);
  ~WebView() override {
    if (currentWebView == this) currentWebView = nullptr;
  }
  // The browser mode's page, or nothing.
  engine::Page* page() const { return page_.get(); }

  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override {
    return GiveInterface<ICoreWebView2Settings>(settings_.get(), settings);
  }
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override { return GiveString(page_ ? page_->Source() : source_, uri); }
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override;
  HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR html) override {
    Log({"navigate-string", Narrow(html ? html : L"")});
    if (page_) return page_->NavigateToString(Narrow(html ? html : L""));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(LPCWSTR uri,
                                                          COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) override {
    Log({"filter", Narrow(uri ? uri : L""), std::to_string(static_cast<int>(context))});
    if (page_) page_->AddFilter(Narrow(uri ? uri : L""), context);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilter(LPCWSTR uri,
                                                             COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) override {
    Log({"filter-remove", Narrow(uri ? uri : L""), std::to_string(static_cast<int>(context))});
    if (page_) page_->RemoveFilter(Narrow(uri ? uri : L""), context);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) override {
    Log({"document-script", Narrow(javaScript ? javaScript : L"")});
    if (page_)
      return page_->AddScript(Narrow(javaScript ? javaScript : L""),
                              ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>(handler));
    if (handler) {
      ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> keep(handler);
      Later([keep] { keep->Invoke(S_OK, L"1"); });
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR javaScript, ICoreWebView2ExecuteScriptCompletedHandler* handler) override;
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR json) override {
    Log({"post", Narrow(json ? json : L"")});
    if (page_) return page_->PostJson(Narrow(json ? json : L""));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR text) override {
    Log({"post-string", Narrow(text ? text : L"")});
    if (page_) return page_->PostString(Narrow(text ? text : L""));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR* title) override {
    return GiveString(page_ ? page_->Title() : title_, title);
  }
  HRESULT STDMETHODCALLTYPE get_ContainsFullScreenElement(BOOL* contains) override {
    if (!contains) return E_POINTER;
    *contains = page_ && page_->ContainsFullScreenElement();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL* can) override {
    if (!can) return E_POINTER;
    *can = page_ && page_->CanGoBack();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL* can) override {
    if (!can) return E_POINTER;
    *can = page_ && page_->CanGoForward();
    return S_OK;
  }
  // The browser mode's calls; without a browser they do nothing.
  HRESULT STDMETHODCALLTYPE Reload() override { return page_ ? page_->Reload() : S_OK; }
  HRESULT STDMETHODCALLTYPE Stop() override { return page_ ? page_->Stop() : S_OK; }
  HRESULT STDMETHODCALLTYPE GoBack() override { return page_ ? page_->GoBack() : S_OK; }
  HRESULT STDMETHODCALLTYPE GoForward() override { return page_ ? page_->GoForward() : S_OK; }
  HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* pid) override {
    if (!pid) return E_POINTER;
    *pid = page_ ? static_cast<UINT32>(page_->BrowserPid()) : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT format, IStream* stream,
                                           ICoreWebView2CapturePreviewCompletedHandler* handler) override {
    if (!page_) return E_NOTIMPL;
    return page_->CapturePreview(format, stream, ComPtr<ICoreWebView2CapturePreviewCompletedHandler>(handler));
  }

  VTL_FAKE_EVENT(NavigationStarting, ICoreWebView2NavigationStartingEventHandler)
  VTL_FAKE_EVENT(ContentLoading, ICoreWebView2ContentLoadingEventHandler)
  VTL_FAKE_EVENT(SourceChanged, ICoreWebView2SourceChangedEventHandler)
  VTL_FAKE_EVENT(HistoryChanged, ICoreWebView2HistoryChangedEventHandler)
  VTL_FAKE_EVENT(NavigationCompleted, ICoreWebView2NavigationCompletedEventHandler)
  VTL_FAKE_EVENT(FrameNavigationStarting, ICoreWebView2NavigationStartingEventHandler)
  VTL_FAKE_EVENT(FrameNavigationCompleted, ICoreWebView2NavigationCompletedEventHandler)
  VTL_FAKE_EVENT(ScriptDialogOpening, ICoreWebView2ScriptDialogOpeningEventHandler)
  VTL_FAKE_EVENT(PermissionRequested, ICoreWebView2PermissionRequestedEventHandler)
  VTL_FAKE_EVENT(ProcessFailed, ICoreWebView2ProcessFailedEventHandler)
  VTL_FAKE_EVENT(NewWindowRequested, ICoreWebView2NewWindowRequestedEventHandler)
  VTL_FAKE_EVENT(DocumentTitleChanged, ICoreWebView2DocumentTitleChangedEventHandler)
  VTL_FAKE_EVENT(ContainsFullScreenElementChanged, ICoreWebView2ContainsFullScreenElementChangedEventHandler)
  VTL_FAKE_EVENT(WebResourceRequested, ICoreWebView2WebResourceRequestedEventHandler)
  VTL_FAKE_EVENT(WindowCloseRequested, ICoreWebView2WindowCloseRequestedEventHandler)
  VTL_FAKE_EVENT(WebMessageReceived, ICoreWebView2WebMessageReceivedEventHandler)

  const std::string& source() const { return source_; }
  void SetTitle(std::string title) { title_ = std::move(title); }

 private:
  ComPtr<Settings> settings_;
  std::string source_, title_;
  bool navigated_ = false;
  std::unique_ptr<engine::Host> host_;
  std::unique_ptr<engine::Page> page_;
};

// How the browser mode's page raises the web view's events: through the
// same handler lists as the scenario's.
class EngineHost final : public engine::Host {
 public:
  explicit EngineHost(WebView& w) : w_(w) {}
  ICoreWebView2* sender() { return static_cast<ICoreWebView2*>(&w_); }
  void NavigationStarting(ICoreWebView2NavigationStartingEventArgs* a) override {
    w_.NavigationStartingHandlers.Raise(sender(), a);
  }
  void ContentLoading(ICoreWebView2ContentLoadingEventArgs* a) override { w_.ContentLoadingHandlers.Raise(sender(), a); }
  void SourceChanged(ICoreWebView2SourceChangedEventArgs* a) override { w_.SourceChangedHandlers.Raise(sender(), a); }
  void HistoryChanged() override { w_.HistoryChangedHandlers.Raise(sender(), static_cast<IUnknown*>(nullptr)); }
  void NavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* a) override {
    w_.NavigationCompletedHandlers.Raise(sender(), a);
  }
  void WebResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* a, std::function<void()> after) override {
    w_.WebResourceRequestedHandlers.Raise(sender(), a);
    after();
  }
  bool ReadResponse(ICoreWebView2WebResourceResponse* answer, engine::ResponseData& out) override;
  void WebMessageReceived(ICoreWebView2WebMessageReceivedEventArgs* a) override {
    w_.WebMessageReceivedHandlers.Raise(sender(), a);
  }
  void DocumentTitleChanged() override {
    w_.DocumentTitleChangedHandlers.Raise(sender(), static_cast<IUnknown*>(nullptr));
  }
  void NewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* a, std::function<void()> after) override {
    w_.NewWindowRequestedHandlers.Raise(sender(), a);
    after();
  }
  void WindowCloseRequested() override {
    w_.WindowCloseRequestedHandlers.Raise(sender(), static_cast<IUnknown*>(nullptr));
  }
  void ContainsFullScreenElementChanged() override {
    w_.ContainsFullScreenElementChangedHandlers.Raise(sender(), static_cast<IUnknown*>(nullptr));
  }
  void ProcessFailed(ICoreWebView2ProcessFailedEventArgs* a) override { w_.ProcessFailedHandlers.Raise(sender(), a); }

 private:
  WebView& w_;
};

WebView::WebView(std::unique_ptr<engine::Page> page) : WebView() {
  host_ = std::make_unique<EngineHost>(*this);
  page_ = std::move(page);
  page_->SetHost(host_.get());
  settings_->changed = [p = page_.get()](const std::string& name, bool value) { p->Setting(name, value); };
}

class Controller final : public Com<Stub_ICoreWebView2Controller, IID_ICoreWebView2Controller> {
 public:
  Controller() : webView_(Make<WebView>()) {}
  explicit Controller(std::unique_ptr<engine::Page> page) : webView_(Make<WebView>(std::move(page))) {}
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** webView) override {
    return GiveInterface<ICoreWebView2>(webView_.get(), webView);
  }
  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) override {
    if (!visible) return E_POINTER;
    *visible = visible_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
    visible_ = visible;
    Log({"visible", visible ? "1" : "0"});
    if (auto* page = webView_->page()) page->SetVisible(visible != FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
    if (!bounds) return E_POINTER;
    *bounds = bounds_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
    bounds_ = bounds;
    Log({"bounds", std::to_string(bounds.left), std::to_string(bounds.top), std::to_string(bounds.right),
         std::to_string(bounds.bottom)});
    if (auto* page = webView_->page()) page->SetBounds(bounds);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ZoomFactor(double* factor) override {
    if (!factor) return E_POINTER;
    *factor = zoom_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ZoomFactor(double factor) override {
    zoom_ = factor;
    std::ostringstream text;
    text << factor;
    Log({"zoom", text.str()});
    if (auto* page = webView_->page()) page->SetZoom(factor);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON) override {
    if (auto* page = webView_->page()) page->Focus();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parent) override {
    if (!parent) return E_POINTER;
    *parent = hostWindow;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close() override {
    Log({"controller-close"});
    if (auto* page = webView_->page()) page->Close();
    return S_OK;
  }
  VTL_FAKE_EVENT(ZoomFactorChanged, ICoreWebView2ZoomFactorChangedEventHandler)
  VTL_FAKE_EVENT(MoveFocusRequested, ICoreWebView2MoveFocusRequestedEventHandler)
  VTL_FAKE_EVENT(GotFocus, ICoreWebView2FocusChangedEventHandler)
  VTL_FAKE_EVENT(LostFocus, ICoreWebView2FocusChangedEventHandler)
  VTL_FAKE_EVENT(AcceleratorKeyPressed, ICoreWebView2AcceleratorKeyPressedEventHandler)

 private:
  ComPtr<WebView> webView_;
  BOOL visible_ = TRUE;
  RECT bounds_{};
  double zoom_ = 1.0;
};

class Environment final : public Com<Stub_ICoreWebView2Environment, IID_ICoreWebView2Environment> {
 public:
  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parentWindow, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override {
    if (!handler) return E_POINTER;
    hostWindow = parentWindow;
    ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> keep(handler);
    if (engine::BrowserMode()) {
      engine::Page::Create(parentWindow, [keep](HRESULT hr, std::unique_ptr<engine::Page> page) {
        if (FAILED(hr) || !page) {
          keep->Invoke(FAILED(hr) ? hr : E_FAIL, nullptr);
          return;
        }
        const auto controller = Make<Controller>(std::move(page));
        keep->Invoke(S_OK, controller.get());
      });
      return S_OK;
    }
    // Completion comes later, on this thread, as the real one does.
    Later([keep] {
      const auto controller = Make<Controller>();
      keep->Invoke(S_OK, controller.get());
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(IStream* content, int statusCode, LPCWSTR reasonPhrase,
                                                      LPCWSTR headers,
                                                      ICoreWebView2WebResourceResponse** response) override {
    if (!response) return E_POINTER;
    *response = new Response(content, statusCode, Narrow(reasonPhrase ? reasonPhrase : L""),
                             Narrow(headers ? headers : L""));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* version) override {
    return GiveString("120.0.2210.91", version);
  }
};

bool EngineHost::ReadResponse(ICoreWebView2WebResourceResponse* answer, engine::ResponseData& out) {
  const auto* response = static_cast<Response*>(answer);
  out.status = response->status();
  out.reason = response->reason();
  out.headers = response->headers();
  IStream* stream = response->content();
  out.body.clear();
  if (stream) {
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    char buffer[65536];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got > 0) out.body.append(buffer, got);
  }
  return true;
}

// The scenario --------------------------------------------------------------------------

struct Scenario {
  std::vector<std::string> steps;
  size_t next = 0;
  bool started = false;
  bool waiting = false;             // for a timer or an awaited script
  std::optional<std::string> awaited;
  std::vector<std::string> executed;  // scripts no await-execute has taken yet
} scenario;

std::string ReadStream(IStream* stream) {
  std::string bytes;
  if (!stream) return bytes;
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  char buffer[65536];
  ULONG got = 0;
  while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got > 0) bytes.append(buffer, got);
  return bytes;
}

void RaiseRequest(WebView& webView, const std::string& url) {
  const auto args = Make<ResourceRequestedArgs>(url);
  webView.WebResourceRequestedHandlers.Raise(static_cast<ICoreWebView2*>(&webView),
                                             static_cast<ICoreWebView2WebResourceRequestedEventArgs*>(args.get()));
  ICoreWebView2WebResourceResponse* answer = args->response();
  if (!answer) {
    Log({"unanswered", url});
    return;
  }
  const auto* response = static_cast<Response*>(answer);
  const std::string body = ReadStream(response->content());
  Log({"response", url, std::to_string(response->status()), response->reason(), response->headers(),
       std::to_string(body.size()), vtl::fake::Sha256Hex(body)});
}

void RaiseMessage(WebView& webView, const std::string& json) {
  const auto args = Make<MessageArgs>(webView.source(), json);
  webView.WebMessageReceivedHandlers.Raise(static_cast<ICoreWebView2*>(&webView),
                                           static_cast<ICoreWebView2WebMessageReceivedEventArgs*>(args.get()));
}

void RunStep(const std::string& line) {
  const size_t space = line.find(' ');
  const std::string command = line.substr(0, space);
  const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
  WebView* webView = currentWebView;
  if (command == "wait") {
    scenario.waiting = true;
    SetTimer(fakeWindow, kWaitTimer, static_cast<UINT>(std::stoul(rest.empty() ? "0" : rest)), nullptr);
  } else if (command == "await-execute") {
    const auto it = std::find(scenario.executed.begin(), scenario.executed.end(), rest);
    if (it != scenario.executed.end()) {
      scenario.executed.erase(it);
    } else {
      scenario.awaited = rest;
      scenario.waiting = true;
    }
  } else if (command == "close") {
    const HWND root = hostWindow ? GetAncestor(hostWindow, GA_ROOT) : nullptr;
    if (root) SendMessageW(root, WM_CLOSE, 0, 0);
    Log({"close", root && IsWindow(root) ? "refused" : "closed"});
  } else if (command == "clock") {
    // Milliseconds since this process was created, for timing start-up.
    FILETIME created{}, exited{}, kernel{}, user{}, now{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimePreciseAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    std::ostringstream ms;
    ms.setf(std::ios::fixed);
    ms.precision(1);
    ms << static_cast<double>(ticks(now) - ticks(created)) / 10000.0;
    Log({"clock", ms.str()});
  } else if (command == "screenshot") {
    std::string error;
    if (!engine::SaveScreenshot(rest, error)) Log({"scenario-error", line, error});
    Log({"screenshot", rest});
  } else if (!webView) {
    Log({"scenario-error", line, "no web view"});
  } else if (webView->page() && webView->page()->RunStep(command, rest, [] { Later(ContinueScenario); })) {
    scenario.waiting = true;
  } else if (command == "crash") {
    // Without a browser: the renderer's failure as WebView2 reports it.
    const auto args = Make<ProcessFailedArgs>(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
    webView->ProcessFailedHandlers.Raise(static_cast<ICoreWebView2*>(webView),
                                         static_cast<ICoreWebView2ProcessFailedEventArgs*>(args.get()));
  } else if (command == "request") {
    RaiseRequest(*webView, rest);
  } else if (command == "message") {
    RaiseMessage(*webView, rest);
  } else if (command == "title") {
    webView->SetTitle(rest);
    webView->DocumentTitleChangedHandlers.Raise(static_cast<ICoreWebView2*>(webView), static_cast<IUnknown*>(nullptr));
  } else if (command == "newwindow") {
    const auto args = Make<NewWindowArgs>(rest);
    webView->NewWindowRequestedHandlers.Raise(static_cast<ICoreWebView2*>(webView),
                                              static_cast<ICoreWebView2NewWindowRequestedEventArgs*>(args.get()));
    Log({"newwindow", rest, args->handled() ? "handled" : "unhandled"});
  } else if (command == "permission") {
    COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    for (const auto& p : kPermissionNames)
      if (rest == p.name) kind = p.kind;
    const auto args = Make<PermissionArgs>(webView->source(), kind);
    webView->PermissionRequestedHandlers.Raise(static_cast<ICoreWebView2*>(webView),
                                               static_cast<ICoreWebView2PermissionRequestedEventArgs*>(args.get()));
    const auto state = static_cast<size_t>(args->state());
    Log({"permission", rest, state < std::size(kPermissionStates) ? kPermissionStates[state] : "?"});
  } else {
    Log({"scenario-error", line, "unknown command"});
  }
}

void ContinueScenario() {
  scenario.waiting = false;
  if (scenario.next >= scenario.steps.size()) {
    if (scenario.next++ == scenario.steps.size()) Log({"scenario-end"});
    return;
  }
  RunStep(scenario.steps[scenario.next++]);
  // One step per turn of the message loop, so that what the runtime posted
  // meanwhile (a close it asked for, a reply) happens between steps.
  if (!scenario.waiting) Later(ContinueScenario);
}

void StartScenario() {
  if (scenario.started || !Role().scenario) return;
  scenario.started = true;
  std::ifstream in(std::filesystem::path(vtl::win32::Widen(*Role().scenario)));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    scenario.steps.push_back(line);
  }
  Later(ContinueScenario);
}

HRESULT WebView::Navigate(LPCWSTR uri) {
  source_ = Narrow(uri ? uri : L"");
  Log({"navigate", source_});
  if (!navigated_) {
    navigated_ = true;
    StartScenario();
  }
  if (page_) return page_->Navigate(source_);
  return S_OK;
}

HRESULT WebView::ExecuteScript(LPCWSTR javaScript, ICoreWebView2ExecuteScriptCompletedHandler* handler) {
  const std::string script = Narrow(javaScript ? javaScript : L"");
  Log({"execute", script});
  if (page_) {
    page_->ExecuteScript(script, ComPtr<ICoreWebView2ExecuteScriptCompletedHandler>(handler));
  } else if (handler) {
    ComPtr<ICoreWebView2ExecuteScriptCompletedHandler> keep(handler);
    Later([keep] { keep->Invoke(S_OK, L"null"); });
  }
  // The page of the default bridge script answers the close query by
  // asking to close, when the test wants a page like that.
  const auto answers = EnvironmentValue("VTL_FAKE_PAGE_ANSWERS_CLOSE");
  if (!page_ && answers && !answers->empty() && script == "vtl.events.onCloseQuery();") {
    Later([] {
      if (currentWebView) RaiseMessage(*currentWebView, R"({"id":50001,"uuid":"close-query","data":{}})");
    });
  }
  if (scenario.awaited == script) {
    scenario.awaited.reset();
    Later(ContinueScenario);
  } else {
    scenario.executed.push_back(script);
  }
  return S_OK;
}

}  // namespace

HRESULT CreateEnvironment(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  Role();
  if (!handler) return E_POINTER;
  std::string lines;
  for (const char* name : kWebView2Variables)
    lines += vtl::fake::FormatLine({"env", name, EnvironmentValue(name).value_or("(unset)")});
  if (const auto& transcript = Role().transcript) vtl::fake::AppendLines(*transcript, lines);
  if (const auto refused = EnvironmentValue("VTL_FAKE_ENVIRONMENT_RESULT"); refused && !refused->empty())
    return static_cast<HRESULT>(std::stoul(*refused, nullptr, 0));
  const auto environment = Make<Environment>();
  handler->Invoke(S_OK, environment.get());
  return S_OK;
}

}  // namespace fake

STDAPI CreateCoreWebView2EnvironmentWithOptions(PCWSTR /*browserExecutableFolder*/, PCWSTR /*userDataFolder*/,
                                                ICoreWebView2EnvironmentOptions* /*environmentOptions*/,
                                                ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  return fake::CreateEnvironment(handler);
}

STDAPI CreateCoreWebView2Environment(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  return fake::CreateEnvironment(handler);
}
