// The fake's web view: environment, controller, web view, settings, frames,
// and the arguments of the events it raises, with no browser behind them. It
// writes down every call the runtime makes, and raises events only when the
// scenario asks (DESIGN.md, "The fake WebView2 loader: contract"). Every
// object keeps WebView2's rules (rules.h).

#include <windows.h>

#include <WebView2.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/page.h"
#include "fake_loader.h"
#include "rules.h"
#include "transcript.h"
#include "web_view.h"
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

// What a call on a web view or controller whose browser process has gone
// answers.
constexpr HRESULT kClosed = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

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

std::string Text(LPCWSTR text) { return Narrow(text ? text : L""); }

// An icon as its pixels show it: `icon<TAB>which<TAB>WxH<TAB>sha256` of the
// colour bitmap's 32-bit rows, top-down, blue green red alpha; or
// `icon<TAB>which<TAB>(none)`.
void LogIcon(const char* which, HICON icon) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) {
    Log({"icon", which, "(none)"});
    return;
  }
  BITMAP bitmap{};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = bitmap.bmWidth;
  bi.bmiHeader.biHeight = -bitmap.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::string pixels(static_cast<size_t>(bitmap.bmWidth) * bitmap.bmHeight * 4, '\0');
  const HDC dc = GetDC(nullptr);
  if (info.hbmColor) GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(bitmap.bmHeight), pixels.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  Log({"icon", which, std::to_string(bitmap.bmWidth) + "x" + std::to_string(bitmap.bmHeight), vtl::fake::Sha256Hex(pixels)});
}


// Settings ----------------------------------------------------------------------------

#define VTL_FAKE_SETTING(Name)                                           \
  BOOL Name##Value = TRUE;                                              \
  HRESULT STDMETHODCALLTYPE get_##Name(BOOL* value) override {          \
    VTL_FAKE_ON_THREAD("get_" #Name);                                   \
    if (!value) return E_POINTER;                                       \
    *value = Name##Value;                                               \
    return S_OK;                                                        \
  }                                                                     \
  HRESULT STDMETHODCALLTYPE put_##Name(BOOL value) override {           \
    VTL_FAKE_ON_THREAD("put_" #Name);                                   \
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

// The request's headers, "Name: value" lines; names match ignoring case.
class RequestHeaders final : public Com<Stub_ICoreWebView2HttpRequestHeaders, IID_ICoreWebView2HttpRequestHeaders> {
 public:
  explicit RequestHeaders(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  HRESULT STDMETHODCALLTYPE GetHeader(LPCWSTR name, LPWSTR* value) override {
    const std::optional<std::string> found = Find(name);
    if (!found) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return GiveString(*found, value);
  }
  HRESULT STDMETHODCALLTYPE Contains(LPCWSTR name, BOOL* contains) override {
    if (!contains) return E_POINTER;
    *contains = Find(name).has_value();
    return S_OK;
  }

 private:
  std::optional<std::string> Find(LPCWSTR name) const {
    std::string wanted = Narrow(name ? name : L"");
    auto lower = [](std::string t) {
      for (char& c : t) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      return t;
    };
    for (const std::string& line : lines_) {
      const size_t colon = line.find(':');
      if (colon == std::string::npos || lower(line.substr(0, colon)) != lower(wanted)) continue;
      const size_t start = line.find_first_not_of(' ', colon + 1);
      return start == std::string::npos ? std::string() : line.substr(start);
    }
    return std::nullopt;
  }
  std::vector<std::string> lines_;
};

class Request final : public Com<Stub_ICoreWebView2WebResourceRequest, IID_ICoreWebView2WebResourceRequest> {
 public:
  Request(std::string uri, std::vector<std::string> headers)
      : uri_(std::move(uri)), headers_(Make<RequestHeaders>(std::move(headers))) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    VTL_FAKE_ON_THREAD("Request::get_Uri");
    return GiveString(uri_, uri);
  }
  HRESULT STDMETHODCALLTYPE get_Method(LPWSTR* method) override {
    VTL_FAKE_ON_THREAD("Request::get_Method");
    return GiveString("GET", method);
  }
  HRESULT STDMETHODCALLTYPE get_Headers(ICoreWebView2HttpRequestHeaders** headers) override {
    VTL_FAKE_ON_THREAD("Request::get_Headers");
    return GiveInterface<ICoreWebView2HttpRequestHeaders>(headers_.get(), headers);
  }

 private:
  std::string uri_;
  ComPtr<RequestHeaders> headers_;
};

// Made only by this environment's CreateWebResourceResponse.
class Response final : public Com<Stub_ICoreWebView2WebResourceResponse, IID_ICoreWebView2WebResourceResponse> {
 public:
  Response(IStream* content, int status, std::string reason, std::string headers)
      : content_(content), status_(status), reason_(std::move(reason)), headers_(std::move(headers)) {}
  HRESULT STDMETHODCALLTYPE get_Content(IStream** content) override {
    VTL_FAKE_ON_THREAD("Response::get_Content");
    return GiveInterface(content_.get(), content);
  }
  HRESULT STDMETHODCALLTYPE put_Content(IStream* content) override {
    VTL_FAKE_ON_THREAD("Response::put_Content");
    content_ = ComPtr<IStream>(content);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_StatusCode(int* status) override {
    VTL_FAKE_ON_THREAD("Response::get_StatusCode");
    if (!status) return E_POINTER;
    *status = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ReasonPhrase(LPWSTR* reason) override {
    VTL_FAKE_ON_THREAD("Response::get_ReasonPhrase");
    return GiveString(reason_, reason);
  }
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
  ResourceRequestedArgs(std::string uri, std::vector<std::string> headers)
      : request_(Make<Request>(std::move(uri), std::move(headers))) {}
  HRESULT STDMETHODCALLTYPE get_Request(ICoreWebView2WebResourceRequest** request) override {
    VTL_FAKE_ON_THREAD("WebResourceRequestedEventArgs::get_Request");
    return GiveInterface<ICoreWebView2WebResourceRequest>(request_.get(), request);
  }
  HRESULT STDMETHODCALLTYPE get_Response(ICoreWebView2WebResourceResponse** response) override {
    VTL_FAKE_ON_THREAD("WebResourceRequestedEventArgs::get_Response");
    return GiveInterface(response_.get(), response);
  }
  HRESULT STDMETHODCALLTYPE put_Response(ICoreWebView2WebResourceResponse* response) override {
    VTL_FAKE_ON_THREAD("WebResourceRequestedEventArgs::put_Response");
    response_ = ComPtr<ICoreWebView2WebResourceResponse>(response);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ResourceContext(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* context) override {
    VTL_FAKE_ON_THREAD("WebResourceRequestedEventArgs::get_ResourceContext");
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
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* source) override {
    VTL_FAKE_ON_THREAD("WebMessageReceivedEventArgs::get_Source");
    return GiveString(source_, source);
  }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* json) override {
    VTL_FAKE_ON_THREAD("WebMessageReceivedEventArgs::get_WebMessageAsJson");
    return GiveString(json_, json);
  }
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* text) override {
    VTL_FAKE_ON_THREAD("WebMessageReceivedEventArgs::TryGetWebMessageAsString");
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
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    VTL_FAKE_ON_THREAD("NewWindowRequestedEventArgs::get_Uri");
    return GiveString(uri_, uri);
  }
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
    VTL_FAKE_ON_THREAD("NewWindowRequestedEventArgs::put_Handled");
    handled_ = handled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override {
    VTL_FAKE_ON_THREAD("NewWindowRequestedEventArgs::get_Handled");
    if (!handled) return E_POINTER;
    *handled = handled_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* initiated) override {
    VTL_FAKE_ON_THREAD("NewWindowRequestedEventArgs::get_IsUserInitiated");
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
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    VTL_FAKE_ON_THREAD("PermissionRequestedEventArgs::get_Uri");
    return GiveString(uri_, uri);
  }
  HRESULT STDMETHODCALLTYPE get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND* kind) override {
    VTL_FAKE_ON_THREAD("PermissionRequestedEventArgs::get_PermissionKind");
    if (!kind) return E_POINTER;
    *kind = kind_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* initiated) override {
    VTL_FAKE_ON_THREAD("PermissionRequestedEventArgs::get_IsUserInitiated");
    if (!initiated) return E_POINTER;
    *initiated = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_State(COREWEBVIEW2_PERMISSION_STATE* state) override {
    VTL_FAKE_ON_THREAD("PermissionRequestedEventArgs::get_State");
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE state) override {
    VTL_FAKE_ON_THREAD("PermissionRequestedEventArgs::put_State");
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
    VTL_FAKE_ON_THREAD("ProcessFailedEventArgs::get_ProcessFailedKind");
    if (!kind) return E_POINTER;
    *kind = kind_;
    return S_OK;
  }

 private:
  COREWEBVIEW2_PROCESS_FAILED_KIND kind_;
};

class FrameCreatedArgs final
    : public Com<Stub_ICoreWebView2FrameCreatedEventArgs, IID_ICoreWebView2FrameCreatedEventArgs> {
 public:
  explicit FrameCreatedArgs(ICoreWebView2Frame* frame) : frame_(frame) {}
  HRESULT STDMETHODCALLTYPE get_Frame(ICoreWebView2Frame** frame) override {
    VTL_FAKE_ON_THREAD("FrameCreatedEventArgs::get_Frame");
    return GiveInterface(frame_.get(), frame);
  }

 private:
  ComPtr<ICoreWebView2Frame> frame_;
};

}  // namespace

// Frames -------------------------------------------------------------------------------

// An iframe of the top document. Its messages reach the host through its own
// WebMessageReceived, never through the web view's; what the host posts to it
// is written as `frame-post<TAB>name<TAB>json`.
class Frame final : public Com<Stub_ICoreWebView2Frame2, IID_ICoreWebView2Frame, IID_ICoreWebView2Frame2> {
 public:
  Frame(std::string name, std::string source) : name_(std::move(name)), source_(std::move(source)) {}

  HRESULT STDMETHODCALLTYPE get_Name(LPWSTR* name) override {
    VTL_FAKE_ON_THREAD("Frame::get_Name");
    return GiveString(name_, name);
  }
  HRESULT STDMETHODCALLTYPE IsDestroyed(BOOL* destroyed) override {
    VTL_FAKE_ON_THREAD("Frame::IsDestroyed");
    if (!destroyed) return E_POINTER;
    *destroyed = destroyed_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR json) override {
    VTL_FAKE_ON_THREAD("Frame::PostWebMessageAsJson");
    if (destroyed_) return kClosed;
    if (!json || !IsJson(json)) {
      Log({"frame-post-refused", name_, Text(json)});
      return E_INVALIDARG;
    }
    Log({"frame-post", name_, Text(json)});
    if (post) post(Text(json), false);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR text) override {
    VTL_FAKE_ON_THREAD("Frame::PostWebMessageAsString");
    if (destroyed_) return kClosed;
    Log({"frame-post-string", name_, Text(text)});
    if (post) post(Text(text), true);
    return S_OK;
  }
  VTL_FAKE_EVENT(Destroyed, ICoreWebView2FrameDestroyedEventHandler)
  VTL_FAKE_EVENT(WebMessageReceived, ICoreWebView2FrameWebMessageReceivedEventHandler)

  const std::string& name() const { return name_; }
  const std::string& source() const { return source_; }
  bool destroyed() const { return destroyed_ != FALSE; }
  void MarkDestroyed() {
    destroyed_ = TRUE;
    post = nullptr;
  }
  // In browser mode: where what the host posts goes (text, is it a string).
  std::function<void(const std::string&, bool)> post;

 private:
  std::string name_, source_;
  BOOL destroyed_ = FALSE;
};

// The web view and its controller -------------------------------------------------------

namespace {

HWND hostWindow = nullptr;  // the controller's parent window
WebView* currentWebView = nullptr;
// Raised when the browser process exits: environments of an earlier browser
// refuse to make web views.
int browserGeneration = 0;

// The web view answers ICoreWebView2 up to ICoreWebView2_N, N from
// VTL_FAKE_WEBVIEW_INTERFACE (default and at most 22).
const IID* const kWebViewIids[] = {
    &IID_ICoreWebView2,    &IID_ICoreWebView2_2,  &IID_ICoreWebView2_3,  &IID_ICoreWebView2_4,
    &IID_ICoreWebView2_5,  &IID_ICoreWebView2_6,  &IID_ICoreWebView2_7,  &IID_ICoreWebView2_8,
    &IID_ICoreWebView2_9,  &IID_ICoreWebView2_10, &IID_ICoreWebView2_11, &IID_ICoreWebView2_12,
    &IID_ICoreWebView2_13, &IID_ICoreWebView2_14, &IID_ICoreWebView2_15, &IID_ICoreWebView2_16,
    &IID_ICoreWebView2_17, &IID_ICoreWebView2_18, &IID_ICoreWebView2_19, &IID_ICoreWebView2_20,
    &IID_ICoreWebView2_21, &IID_ICoreWebView2_22,
};

size_t NewestWebViewInterface() {
  static const size_t newest = [] {
    const auto value = EnvironmentValue("VTL_FAKE_WEBVIEW_INTERFACE");
    size_t n = std::size(kWebViewIids);
    if (value && !value->empty()) n = std::clamp<size_t>(std::stoul(*value), 1, std::size(kWebViewIids));
    return n;
  }();
  return newest;
}

// What the page answers ExecuteScript with (the fake runs no script): set by
// the scenario's `script-result`; by default `true` for a page that answers
// the close query (VTL_FAKE_PAGE_ANSWERS_CLOSE), else `null`.
std::optional<std::string> scriptResult;

bool PageAnswersClose() {
  const auto answers = EnvironmentValue("VTL_FAKE_PAGE_ANSWERS_CLOSE");
  return answers && !answers->empty();
}

std::string ScriptResult() { return scriptResult.value_or(PageAnswersClose() ? "true" : "null"); }

void Notify(const char* kind, const std::string& what);
void StartScenario();

}  // namespace

// The first thing every method of the web view and its controller does: the
// rule of one thread, then the closed state a browser exit leaves.
#define VTL_FAKE_LIVE(method)         \
  do {                                \
    VTL_FAKE_ON_THREAD(method);       \
    if (closed()) return kClosed;     \
  } while (0)

class WebView final : public vtl::win32::ComObject<Stub_ICoreWebView2_22>, public ThreadBound {
 public:
  WebView() : settings_(Make<Settings>()) { currentWebView = this; }
  explicit WebView(std::unique_ptr<engine::Page> page);
  ~WebView() override {
    if (currentWebView == this) currentWebView = nullptr;
  }
  // The browser mode's page, or nothing.
  engine::Page* engine() const { return engine_.get(); }

  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override {
    VTL_FAKE_LIVE("get_Settings");
    return GiveInterface<ICoreWebView2Settings>(settings_.get(), settings);
  }
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override {
    VTL_FAKE_LIVE("get_Source");
    return GiveString(engine_ ? engine_->Source() : source_, uri);
  }
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
    VTL_FAKE_LIVE("Navigate");
    source_ = Text(uri);
    Log({"navigate", source_});
    // WebView2 applies a document script from the first navigation after its
    // completion handler has run.
    if (scriptsPending_ > 0) Log({"document-script-missed", source_});
    NewDocument();
    Notify("navigate", source_);
    if (!navigated_) {
      navigated_ = true;
      StartScenario();
    }
    if (engine_) return engine_->Navigate(source_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reload() override {
    VTL_FAKE_LIVE("Reload");
    Log({"reload"});
    NewDocument();
    if (engine_) return engine_->Reload();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR html) override {
    VTL_FAKE_LIVE("NavigateToString");
    Log({"navigate-string", Text(html)});
    NewDocument();
    if (engine_) return engine_->NavigateToString(Text(html));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(LPCWSTR uri,
                                                          COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) override {
    VTL_FAKE_LIVE("AddWebResourceRequestedFilter");
    Log({"filter", Text(uri), std::to_string(static_cast<int>(context))});
    if (engine_) engine_->AddFilter(Text(uri), context);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilter(LPCWSTR uri,
                                                             COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) override {
    VTL_FAKE_LIVE("RemoveWebResourceRequestedFilter");
    Log({"filter-remove", Text(uri), std::to_string(static_cast<int>(context))});
    if (engine_) engine_->RemoveFilter(Text(uri), context);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilterWithRequestSourceKinds(
      LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context,
      COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS kinds) override {
    VTL_FAKE_LIVE("AddWebResourceRequestedFilterWithRequestSourceKinds");
    std::ostringstream hex;
    hex << "0x" << std::hex << static_cast<uint32_t>(kinds);
    Log({"filter-sources", Text(uri), std::to_string(static_cast<int>(context)), hex.str()});
    if (engine_) engine_->AddFilter(Text(uri), context);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) override {
    VTL_FAKE_LIVE("AddScriptToExecuteOnDocumentCreated");
    Log({"document-script", Text(javaScript)});
    if (engine_)
      return engine_->AddScript(Text(javaScript),
                                ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>(handler));
    ++scriptsPending_;
    ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> keep(handler);
    Complete("AddScriptToExecuteOnDocumentCreated", [this, self = ComPtr<WebView>(this), keep] {
      --scriptsPending_;
      if (keep) keep->Invoke(S_OK, L"1");
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR javaScript, ICoreWebView2ExecuteScriptCompletedHandler* handler) override;
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR json) override {
    VTL_FAKE_LIVE("PostWebMessageAsJson");
    if (!json || !IsJson(json)) {
      Log({"post-refused", Text(json)});
      return E_INVALIDARG;
    }
    Log({"post", Text(json)});
    if (engine_) return engine_->PostJson(Text(json));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR text) override {
    VTL_FAKE_LIVE("PostWebMessageAsString");
    Log({"post-string", Text(text)});
    if (engine_) return engine_->PostString(Text(text));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR* title) override {
    VTL_FAKE_LIVE("get_DocumentTitle");
    return GiveString(engine_ ? engine_->Title() : title_, title);
  }
  HRESULT STDMETHODCALLTYPE get_ContainsFullScreenElement(BOOL* contains) override {
    VTL_FAKE_LIVE("get_ContainsFullScreenElement");
    if (!contains) return E_POINTER;
    *contains = engine_ && engine_->ContainsFullScreenElement();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL* can) override {
    VTL_FAKE_LIVE("get_CanGoBack");
    if (!can) return E_POINTER;
    *can = engine_ && engine_->CanGoBack();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL* can) override {
    VTL_FAKE_LIVE("get_CanGoForward");
    if (!can) return E_POINTER;
    *can = engine_ && engine_->CanGoForward();
    return S_OK;
  }
  // The browser mode's calls; without a browser they are not implemented.
  HRESULT STDMETHODCALLTYPE Stop() override { return engine_ ? engine_->Stop() : E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GoBack() override { return engine_ ? engine_->GoBack() : E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GoForward() override { return engine_ ? engine_->GoForward() : E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* pid) override {
    if (!engine_) return E_NOTIMPL;
    if (!pid) return E_POINTER;
    *pid = static_cast<UINT32>(engine_->BrowserPid());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT format, IStream* stream,
                                           ICoreWebView2CapturePreviewCompletedHandler* handler) override {
    if (!engine_) return E_NOTIMPL;
    return engine_->CapturePreview(format, stream, ComPtr<ICoreWebView2CapturePreviewCompletedHandler>(handler));
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
  VTL_FAKE_EVENT(FrameCreated, ICoreWebView2FrameCreatedEventHandler)

  const std::string& source() const { return source_; }
  void SetTitle(std::string title) { title_ = std::move(title); }
  std::vector<ComPtr<Frame>>& frames() { return frames_; }

  // The page's state as a crash leaves it. A renderer that exited leaves an
  // error page, which has no bridge; a hung one answers no script; a browser
  // that exited closes the web view for good.
  enum class Page { Live, ErrorPage, Hung };
  void SetPage(Page page) { page_ = page; }
  void Close() { closed_ = true; }
  bool closed() const { return closed_; }

 private:
  bool Answers(REFIID riid) const override {
    for (size_t i = 0; i < NewestWebViewInterface(); ++i)
      if (IsEqualIID(riid, *kWebViewIids[i])) return true;
    return false;
  }
  // A new document: the old one's frames are gone, a crashed page is replaced,
  // and scripts the hung page never answered fail.
  void NewDocument();

  ComPtr<Settings> settings_;
  std::string source_, title_;
  bool navigated_ = false;
  bool closed_ = false;
  int scriptsPending_ = 0;
  Page page_ = Page::Live;
  std::vector<ComPtr<ICoreWebView2ExecuteScriptCompletedHandler>> unanswered_;
  std::vector<ComPtr<Frame>> frames_;
  std::unique_ptr<engine::Host> host_;
  std::unique_ptr<engine::Page> engine_;
};

Frame* CreateFrame(WebView& webView, const std::string& name, const std::string& source) {
  const auto frame = Make<Frame>(name, source);
  webView.frames().push_back(frame);
  const auto args = Make<FrameCreatedArgs>(static_cast<ICoreWebView2Frame*>(frame.get()));
  webView.FrameCreatedHandlers.Raise(static_cast<ICoreWebView2*>(&webView),
                                     static_cast<ICoreWebView2FrameCreatedEventArgs*>(args.get()));
  return frame.get();
}

Frame* FindFrame(WebView& webView, const std::string& name) {
  for (const auto& frame : webView.frames())
    if (frame->name() == name && !frame->destroyed()) return frame.get();
  return nullptr;
}

void RaiseFrameMessage(Frame& frame, const std::string& json) {
  const auto args = Make<MessageArgs>(frame.source(), json);
  frame.WebMessageReceivedHandlers.Raise(static_cast<ICoreWebView2Frame*>(&frame),
                                         static_cast<ICoreWebView2WebMessageReceivedEventArgs*>(args.get()));
}

void DestroyFrame(WebView& webView, Frame& frame) {
  const ComPtr<Frame> keep(&frame);
  std::erase_if(webView.frames(), [&](const ComPtr<Frame>& f) { return f.get() == &frame; });
  frame.MarkDestroyed();
  frame.DestroyedHandlers.Raise(static_cast<ICoreWebView2Frame*>(&frame), static_cast<IUnknown*>(nullptr));
}

void WebView::NewDocument() {
  page_ = Page::Live;
  for (const auto& handler : std::exchange(unanswered_, {}))
    Complete("ExecuteScript", [handler] { handler->Invoke(E_ABORT, L"null"); });
  for (const auto& frame : std::vector<ComPtr<Frame>>(frames_)) DestroyFrame(*this, *frame.get());
}

HRESULT WebView::ExecuteScript(LPCWSTR javaScript, ICoreWebView2ExecuteScriptCompletedHandler* handler) {
  VTL_FAKE_LIVE("ExecuteScript");
  const std::string script = Text(javaScript);
  Log({"execute", script});
  ComPtr<ICoreWebView2ExecuteScriptCompletedHandler> keep(handler);
  if (engine_) {
    engine_->ExecuteScript(script, keep);
    Notify("execute", script);
    return S_OK;
  }
  if (page_ == Page::Hung) {
    if (keep) unanswered_.push_back(keep);
  } else {
    const std::string result = page_ == Page::ErrorPage ? "null" : ScriptResult();
    if (keep) Complete("ExecuteScript", [keep, result] { keep->Invoke(S_OK, Widen(result).c_str()); });
    // The page of the default bridge script answers the close query by
    // asking to close, when the test wants a page like that.
    if (page_ == Page::Live && PageAnswersClose() && script.rfind("vtl.events.onCloseQuery();", 0) == 0) {
      Later([self = ComPtr<WebView>(this)] {
        if (self->closed_) return;
        const auto args = Make<MessageArgs>(self->source_, R"({"id":50001,"uuid":"close-query","data":{}})");
        self->WebMessageReceivedHandlers.Raise(static_cast<ICoreWebView2*>(self.get()),
                                               static_cast<ICoreWebView2WebMessageReceivedEventArgs*>(args.get()));
      });
    }
  }
  Notify("execute", script);
  return S_OK;
}

namespace {

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
    w_.WebResourceRequestedHandlers.RaiseThen(std::move(after), sender(), a);
  }
  bool ReadResponse(ICoreWebView2WebResourceResponse* answer, engine::ResponseData& out) override;
  void WebMessageReceived(ICoreWebView2WebMessageReceivedEventArgs* a) override {
    w_.WebMessageReceivedHandlers.Raise(sender(), a);
  }
  void DocumentTitleChanged() override {
    w_.DocumentTitleChangedHandlers.Raise(sender(), static_cast<IUnknown*>(nullptr));
  }
  void NewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* a, std::function<void()> after) override {
    w_.NewWindowRequestedHandlers.RaiseThen(std::move(after), sender(), a);
  }
  void WindowCloseRequested() override {
    w_.WindowCloseRequestedHandlers.Raise(sender(), static_cast<IUnknown*>(nullptr));
  }
  void ContainsFullScreenElementChanged() override {
    w_.ContainsFullScreenElementChangedHandlers.Raise(sender(), static_cast<IUnknown*>(nullptr));
  }
  void ProcessFailed(ICoreWebView2ProcessFailedEventArgs* a) override { w_.ProcessFailedHandlers.Raise(sender(), a); }
  // The browser's frames by protocol id. A frame object's name is its
  // iframe's name; frames without one are told apart by their id.
  void FrameCreated(const std::string& id, const std::string& name, const std::string& url) override {
    Log({"engine-frame", id, name, url});
    Frame* frame = CreateFrame(w_, name, url);
    frames_[id] = ComPtr<Frame>(frame);
    WebView* w = &w_;
    frame->post = [w, id](const std::string& text, bool isString) {
      if (auto* page = w->engine()) page->PostToFrame(id, text, isString);
    };
  }
  void FrameMessage(const std::string& id, const std::string& json) override {
    const auto it = frames_.find(id);
    if (it != frames_.end() && !it->second->destroyed()) RaiseFrameMessage(*it->second.get(), json);
  }
  void FrameDestroyed(const std::string& id) override {
    const auto it = frames_.find(id);
    if (it == frames_.end()) return;
    const ComPtr<Frame> frame = it->second;
    frames_.erase(it);
    Log({"engine-frame-gone", id});
    if (!frame->destroyed()) DestroyFrame(w_, *frame.get());
  }

 private:
  WebView& w_;
  std::map<std::string, ComPtr<Frame>> frames_;
};

}  // namespace

WebView::WebView(std::unique_ptr<engine::Page> page) : WebView() {
  host_ = std::make_unique<EngineHost>(*this);
  engine_ = std::move(page);
  engine_->SetHost(host_.get());
  settings_->changed = [p = engine_.get()](const std::string& name, bool value) { p->Setting(name, value); };
}

namespace {

class Controller final : public Com<Stub_ICoreWebView2Controller, IID_ICoreWebView2Controller> {
 public:
  Controller() : webView_(Make<WebView>()) {}
  explicit Controller(std::unique_ptr<engine::Page> page) : webView_(Make<WebView>(std::move(page))) {}
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** webView) override {
    VTL_FAKE_LIVE("get_CoreWebView2");
    return GiveInterface<ICoreWebView2>(webView_.get(), webView);
  }
  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) override {
    VTL_FAKE_LIVE("get_IsVisible");
    if (!visible) return E_POINTER;
    *visible = visible_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
    VTL_FAKE_LIVE("put_IsVisible");
    visible_ = visible;
    Log({"visible", visible ? "1" : "0"});
    if (auto* page = webView_->engine()) page->SetVisible(visible != FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
    VTL_FAKE_LIVE("get_Bounds");
    if (!bounds) return E_POINTER;
    *bounds = bounds_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
    VTL_FAKE_LIVE("put_Bounds");
    bounds_ = bounds;
    Log({"bounds", std::to_string(bounds.left), std::to_string(bounds.top), std::to_string(bounds.right),
         std::to_string(bounds.bottom)});
    if (auto* page = webView_->engine()) page->SetBounds(bounds);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ZoomFactor(double* factor) override {
    VTL_FAKE_LIVE("get_ZoomFactor");
    if (!factor) return E_POINTER;
    *factor = zoom_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ZoomFactor(double factor) override {
    VTL_FAKE_LIVE("put_ZoomFactor");
    zoom_ = factor;
    std::ostringstream text;
    text << factor;
    Log({"zoom", text.str()});
    if (auto* page = webView_->engine()) page->SetZoom(factor);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON) override {
    VTL_FAKE_LIVE("MoveFocus");
    if (auto* page = webView_->engine()) page->Focus();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parent) override {
    VTL_FAKE_LIVE("get_ParentWindow");
    if (!parent) return E_POINTER;
    *parent = hostWindow;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override {
    VTL_FAKE_LIVE("NotifyParentWindowPositionChanged");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    VTL_FAKE_ON_THREAD("Close");
    Log({"controller-close"});
    webView_->Close();
    if (auto* page = webView_->engine()) page->Close();
    return S_OK;
  }
  VTL_FAKE_EVENT(ZoomFactorChanged, ICoreWebView2ZoomFactorChangedEventHandler)
  VTL_FAKE_EVENT(MoveFocusRequested, ICoreWebView2MoveFocusRequestedEventHandler)
  VTL_FAKE_EVENT(GotFocus, ICoreWebView2FocusChangedEventHandler)
  VTL_FAKE_EVENT(LostFocus, ICoreWebView2FocusChangedEventHandler)
  VTL_FAKE_EVENT(AcceleratorKeyPressed, ICoreWebView2AcceleratorKeyPressedEventHandler)

  bool closed() const { return webView_->closed(); }

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
    VTL_FAKE_ON_THREAD("CreateCoreWebView2Controller");
    if (!handler) return E_POINTER;
    if (generation_ != browserGeneration) return kClosed;
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
    Complete("CreateCoreWebView2Controller", [keep] {
      const auto controller = Make<Controller>();
      keep->Invoke(S_OK, controller.get());
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(IStream* content, int statusCode, LPCWSTR reasonPhrase,
                                                      LPCWSTR headers,
                                                      ICoreWebView2WebResourceResponse** response) override {
    VTL_FAKE_ON_THREAD("CreateWebResourceResponse");
    if (!response) return E_POINTER;
    *response = new Response(content, statusCode, Text(reasonPhrase), Text(headers));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* version) override {
    VTL_FAKE_ON_THREAD("get_BrowserVersionString");
    return GiveString("120.0.2210.91", version);
  }

 private:
  int generation_ = browserGeneration;
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

constexpr UINT_PTR kWaitTimer = 1;
constexpr UINT_PTR kNestedLoopTimer = 2;

struct Scenario {
  std::vector<std::string> steps;
  size_t next = 0;
  bool started = false;
  bool waiting = false;  // for a timer or an awaited call
  // An awaited call, and the calls no await has taken yet: {kind, text}.
  std::optional<std::pair<std::string, std::string>> awaited;
  std::vector<std::pair<std::string, std::string>> seen;
  // The steps running now, innermost last: each is true once the scenario
  // went on inside a nested message loop of its handlers.
  std::vector<bool*> running;
} scenario;

void ContinueScenario();

void Notify(const char* kind, const std::string& what) {
  if (scenario.awaited && scenario.awaited->first == kind && scenario.awaited->second == what) {
    scenario.awaited.reset();
    Later(ContinueScenario);
  } else {
    scenario.seen.emplace_back(kind, what);
  }
}

void Await(const char* kind, const std::string& what) {
  const auto it = std::find(scenario.seen.begin(), scenario.seen.end(), std::make_pair(std::string(kind), what));
  if (it != scenario.seen.end()) {
    scenario.seen.erase(it);
  } else {
    scenario.awaited.emplace(kind, what);
    scenario.waiting = true;
  }
}

std::string ReadStream(IStream* stream) {
  std::string bytes;
  if (!stream) return bytes;
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  char buffer[65536];
  ULONG got = 0;
  while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got > 0) bytes.append(buffer, got);
  return bytes;
}

// `line` is the URL, then the request's header lines, each after a TAB.
void RaiseRequest(WebView& webView, const std::string& line) {
  std::vector<std::string> fields;
  for (size_t at = 0;;) {
    const size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  const std::string url = fields.front();
  const auto args = Make<ResourceRequestedArgs>(url, std::vector<std::string>(fields.begin() + 1, fields.end()));
  webView.WebResourceRequestedHandlers.RaiseThen(
      [args, url] {
        ICoreWebView2WebResourceResponse* answer = args->response();
        if (!answer) {
          Log({"unanswered", url});
          return;
        }
        const auto* response = static_cast<Response*>(answer);
        const std::string body = ReadStream(response->content());
        Log({"response", url, std::to_string(response->status()), response->reason(), response->headers(),
             std::to_string(body.size()), vtl::fake::Sha256Hex(body)});
      },
      static_cast<ICoreWebView2*>(&webView), static_cast<ICoreWebView2WebResourceRequestedEventArgs*>(args.get()));
}

void RaiseMessage(WebView& webView, const std::string& json) {
  const auto args = Make<MessageArgs>(webView.source(), json);
  webView.WebMessageReceivedHandlers.Raise(static_cast<ICoreWebView2*>(&webView),
                                           static_cast<ICoreWebView2WebMessageReceivedEventArgs*>(args.get()));
}

struct FailureName {
  const char* name;
  COREWEBVIEW2_PROCESS_FAILED_KIND kind;
};
constexpr FailureName kFailures[] = {
    {"renderer", COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED},
    {"hang", COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE},
    {"browser", COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED},
};

// `crash [renderer|hang|browser]`.
bool Crash(WebView& webView, const std::string& which) {
  const std::string name = which.empty() ? "renderer" : which;
  const auto it = std::find_if(std::begin(kFailures), std::end(kFailures),
                               [&](const FailureName& f) { return name == f.name; });
  if (it == std::end(kFailures)) return false;
  // Subframes go with the main frame's renderer, and with the browser.
  if (it->kind != COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE)
    for (const auto& frame : std::vector<ComPtr<Frame>>(webView.frames())) DestroyFrame(webView, *frame.get());
  switch (it->kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED: webView.SetPage(WebView::Page::ErrorPage); break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE: webView.SetPage(WebView::Page::Hung); break;
    default:
      ++browserGeneration;
      webView.Close();
      break;
  }
  const auto args = Make<ProcessFailedArgs>(it->kind);
  webView.ProcessFailedHandlers.Raise(static_cast<ICoreWebView2*>(&webView),
                                      static_cast<ICoreWebView2ProcessFailedEventArgs*>(args.get()));
  return true;
}

std::pair<std::string, std::string> SplitWord(const std::string& text) {
  const size_t space = text.find(' ');
  if (space == std::string::npos) return {text, {}};
  return {text.substr(0, space), text.substr(space + 1)};
}

// `await-file PATH`: the scenario goes on once PATH exists, which a test
// creates when it has done its part outside the program; after a minute it
// goes on anyway, with a scenario-error line.
void AwaitFile(const std::wstring& path, ULONGLONG deadline, const std::string& line) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return Later(ContinueScenario);
  if (GetTickCount64() >= deadline) {
    Log({"scenario-error", line, "no such file within 60 s"});
    return Later(ContinueScenario);
  }
  AfterTimer(kWaitTimer, 50, [=] { AwaitFile(path, deadline, line); });
}

void RunStep(const std::string& line) {
  const auto [command, rest] = SplitWord(line);
  WebView* webView = currentWebView;
  if (command == "wait") {
    scenario.waiting = true;
    AfterTimer(kWaitTimer, static_cast<UINT>(std::stoul(rest.empty() ? "0" : rest)), ContinueScenario);
  } else if (command == "await-file") {
    scenario.waiting = true;
    AwaitFile(Widen(rest), GetTickCount64() + 60000, line);
  } else if (command == "await-execute") {
    Await("execute", rest);
  } else if (command == "await-navigate") {
    Await("navigate", rest);
  } else if (command == "script-result") {
    scriptResult = rest;
  } else if (command == "close") {
    const HWND root = hostWindow ? GetAncestor(hostWindow, GA_ROOT) : nullptr;
    if (root) SendMessageW(root, WM_CLOSE, 0, 0);
    Log({"close", root && IsWindow(root) ? "refused" : "closed"});
  } else if (command == "syscommand") {
    // The title-bar buttons and the system menu: the window's own WM_SYSCOMMAND.
    const HWND root = hostWindow ? GetAncestor(hostWindow, GA_ROOT) : nullptr;
    const WPARAM code = rest == "minimize"   ? SC_MINIMIZE
                        : rest == "maximize" ? SC_MAXIMIZE
                        : rest == "restore"  ? SC_RESTORE
                                             : 0;
    if (!root || !code) {
      Log({"scenario-error", line, root ? "unknown system command" : "no window"});
    } else {
      SendMessageW(root, WM_SYSCOMMAND, code, 0);
      Log({"syscommand", rest, IsIconic(root) ? "minimized" : IsZoomed(root) ? "maximized" : "normal"});
    }
  } else if (command == "icons") {
    const HWND root = hostWindow ? GetAncestor(hostWindow, GA_ROOT) : nullptr;
    LogIcon("class", root ? reinterpret_cast<HICON>(GetClassLongPtrW(root, GCLP_HICON)) : nullptr);
    LogIcon("window", root ? reinterpret_cast<HICON>(SendMessageW(root, WM_GETICON, ICON_BIG, 0)) : nullptr);
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
  } else if (!webView || webView->closed()) {
    Log({"scenario-error", line, "no web view"});
  } else if (webView->engine() && webView->engine()->RunStep(command, rest, [] { Later(ContinueScenario); })) {
    scenario.waiting = true;
  } else if (command == "request") {
    RaiseRequest(*webView, rest);
  } else if (command == "message") {
    RaiseMessage(*webView, rest);
  } else if (command == "title") {
    webView->SetTitle(rest);
    webView->DocumentTitleChangedHandlers.Raise(static_cast<ICoreWebView2*>(webView), static_cast<IUnknown*>(nullptr));
  } else if (command == "newwindow") {
    const auto args = Make<NewWindowArgs>(rest);
    webView->NewWindowRequestedHandlers.RaiseThen(
        [args, url = rest] { Log({"newwindow", url, args->handled() ? "handled" : "unhandled"}); },
        static_cast<ICoreWebView2*>(webView), static_cast<ICoreWebView2NewWindowRequestedEventArgs*>(args.get()));
  } else if (command == "permission") {
    COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    for (const auto& p : kPermissionNames)
      if (rest == p.name) kind = p.kind;
    const auto args = Make<PermissionArgs>(webView->source(), kind);
    webView->PermissionRequestedHandlers.RaiseThen(
        [args, name = rest] {
          const auto state = static_cast<size_t>(args->state());
          Log({"permission", name, state < std::size(kPermissionStates) ? kPermissionStates[state] : "?"});
        },
        static_cast<ICoreWebView2*>(webView), static_cast<ICoreWebView2PermissionRequestedEventArgs*>(args.get()));
  } else if (command == "crash") {
    if (!Crash(*webView, rest)) Log({"scenario-error", line, "unknown process"});
  } else if (command == "frame") {
    const auto [name, url] = SplitWord(rest);
    CreateFrame(*webView, name, url);
  } else if (command == "frame-message" || command == "frame-gone") {
    const auto [name, json] = SplitWord(rest);
    Frame* frame = FindFrame(*webView, name);
    if (!frame) {
      Log({"scenario-error", line, "no such frame"});
    } else if (command == "frame-message") {
      RaiseFrameMessage(*frame, json);
    } else {
      DestroyFrame(*webView, *frame);
    }
  } else {
    Log({"scenario-error", line, "unknown command"});
  }
}

// A step whose event handlers run a nested message loop (a modal dialog) has
// not returned, but the loop runs: the scenario goes on inside it, so that a
// test sees what the runtime does meanwhile (events wait, rules.h).
void GoOnInNestedLoop() {
  if (scenario.running.empty() || *scenario.running.back()) return;
  *scenario.running.back() = true;
  if (!scenario.waiting) Later(ContinueScenario);
}

void ContinueScenario() {
  scenario.waiting = false;
  if (scenario.next >= scenario.steps.size()) {
    if (scenario.next++ == scenario.steps.size()) Log({"scenario-end"});
    return;
  }
  bool wentOn = false;
  scenario.running.push_back(&wentOn);
  AfterTimer(kNestedLoopTimer, 100, GoOnInNestedLoop);
  RunStep(scenario.steps[scenario.next++]);
  CancelTimer(kNestedLoopTimer);
  scenario.running.pop_back();
  // One step per turn of the message loop, so that what the runtime posted
  // meanwhile (a close it asked for, a reply) happens between steps.
  if (!wentOn && !scenario.waiting) Later(ContinueScenario);
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
  // The environment belongs to the calling thread; its completion comes
  // through that thread's message loop.
  const auto environment = Make<Environment>();
  ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> keep(handler);
  Complete("CreateCoreWebView2Environment", [keep, environment] { keep->Invoke(S_OK, environment.get()); });
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
