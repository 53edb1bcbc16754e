#include "engine/page.h"

#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <cstring>
#include <thread>
#include <utility>

#include "engine/shim.h"
#include "fake_loader.h"
#include "transcript.h"
#include "webview2_stubs.h"
#include "win32/text.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

namespace fake::engine {
namespace {

using vtl::win32::Narrow;
using vtl::win32::Widen;

// Base64, for the protocol's bodies and images --------------------------------------

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string ToBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kBase64[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint8_t(bytes[i + 1]) << 8;
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string FromBase64(std::string_view text) {
  std::string out;
  uint32_t v = 0;
  int bits = 0;
  for (const char c : text) {
    const char* at = std::strchr(kBase64, c);
    if (!at || c == '\0') continue;
    v = (v << 6) | uint32_t(at - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += char((v >> bits) & 0xFF);
    }
  }
  return out;
}

// Work handed to the UI thread from a worker ----------------------------------------

constexpr UINT kRun = WM_APP + 22;
constexpr wchar_t kRunnerClass[] = L"VtlFakeEngineRunner";

LRESULT CALLBACK RunnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRun) {
    std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
    (*task)();
    DestroyWindow(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeRunner() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = RunnerProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kRunnerClass;
  RegisterClassW(&wc);
  return CreateWindowExW(0, kRunnerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

// Event arguments ---------------------------------------------------------------------

template <class Stub, const IID& iid>
class Com : public vtl::win32::ComObject<Stub> {
  bool Answers(REFIID riid) const override { return IsEqualIID(riid, iid); }
};

template <class T, class... A>
ComPtr<T> Make(A&&... args) {
  return ComPtr<T>::Attach(new T(std::forward<A>(args)...));
}

HRESULT GiveString(const std::string& text, LPWSTR* out) {
  if (!out) return E_POINTER;
  const std::wstring wide = Widen(text);
  *out = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
  if (!*out) return E_OUTOFMEMORY;
  std::copy(wide.begin(), wide.end(), *out);
  (*out)[wide.size()] = L'\0';
  return S_OK;
}

template <class T>
HRESULT Give(T value, T* out) {
  if (!out) return E_POINTER;
  *out = value;
  return S_OK;
}

class NavigationStartingArgs final
    : public Com<Stub_ICoreWebView2NavigationStartingEventArgs, IID_ICoreWebView2NavigationStartingEventArgs> {
 public:
  NavigationStartingArgs(std::string uri, bool user, bool redirect, uint64_t id)
      : uri_(std::move(uri)), user_(user), redirect_(redirect), id_(id) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return GiveString(uri_, uri); }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* v) override { return Give<BOOL>(user_, v); }
  HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* v) override { return Give<BOOL>(redirect_, v); }
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* v) override { return Give(cancel_, v); }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
    cancel_ = v;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* v) override { return Give<UINT64>(id_, v); }
  bool cancelled() const { return cancel_ != FALSE; }

 private:
  std::string uri_;
  bool user_, redirect_;
  uint64_t id_;
  BOOL cancel_ = FALSE;
};

class ContentLoadingArgs final
    : public Com<Stub_ICoreWebView2ContentLoadingEventArgs, IID_ICoreWebView2ContentLoadingEventArgs> {
 public:
  ContentLoadingArgs(bool errorPage, uint64_t id) : errorPage_(errorPage), id_(id) {}
  HRESULT STDMETHODCALLTYPE get_IsErrorPage(BOOL* v) override { return Give<BOOL>(errorPage_, v); }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* v) override { return Give<UINT64>(id_, v); }

 private:
  bool errorPage_;
  uint64_t id_;
};

class SourceChangedArgs final
    : public Com<Stub_ICoreWebView2SourceChangedEventArgs, IID_ICoreWebView2SourceChangedEventArgs> {
 public:
  explicit SourceChangedArgs(bool isNew) : new_(isNew) {}
  HRESULT STDMETHODCALLTYPE get_IsNewDocument(BOOL* v) override { return Give<BOOL>(new_, v); }

 private:
  bool new_;
};

class NavigationCompletedArgs final
    : public Com<Stub_ICoreWebView2NavigationCompletedEventArgs, IID_ICoreWebView2NavigationCompletedEventArgs> {
 public:
  NavigationCompletedArgs(bool success, COREWEBVIEW2_WEB_ERROR_STATUS status, uint64_t id)
      : success_(success), status_(status), id_(id) {}
  HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* v) override { return Give<BOOL>(success_, v); }
  HRESULT STDMETHODCALLTYPE get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* v) override { return Give(status_, v); }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* v) override { return Give<UINT64>(id_, v); }

 private:
  bool success_;
  COREWEBVIEW2_WEB_ERROR_STATUS status_;
  uint64_t id_;
};

// The request's headers as the browser sent them (a Range of a media
// element, say); names match ignoring case.
class RequestHeaders final : public Com<Stub_ICoreWebView2HttpRequestHeaders, IID_ICoreWebView2HttpRequestHeaders> {
 public:
  explicit RequestHeaders(Json headers) : headers_(std::move(headers)) {}
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
    const std::string wanted = Narrow(name ? name : L"");
    if (!headers_.is_object()) return std::nullopt;
    for (const auto& [key, value] : headers_.items())
      if (key.size() == wanted.size() && std::equal(key.begin(), key.end(), wanted.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
          }))
        return value.is_string() ? value.get<std::string>() : value.dump();
    return std::nullopt;
  }
  Json headers_;
};

class Request final : public Com<Stub_ICoreWebView2WebResourceRequest, IID_ICoreWebView2WebResourceRequest> {
 public:
  Request(std::string uri, std::string method, Json headers)
      : uri_(std::move(uri)), method_(std::move(method)), headers_(Make<RequestHeaders>(std::move(headers))) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return GiveString(uri_, uri); }
  HRESULT STDMETHODCALLTYPE get_Method(LPWSTR* method) override { return GiveString(method_, method); }
  HRESULT STDMETHODCALLTYPE get_Content(IStream** content) override { return Give<IStream*>(nullptr, content); }
  HRESULT STDMETHODCALLTYPE get_Headers(ICoreWebView2HttpRequestHeaders** headers) override {
    if (!headers) return E_POINTER;
    *headers = headers_.get();
    headers_->AddRef();
    return S_OK;
  }

 private:
  std::string uri_, method_;
  ComPtr<RequestHeaders> headers_;
};

class ResourceRequestedArgs final
    : public Com<Stub_ICoreWebView2WebResourceRequestedEventArgs, IID_ICoreWebView2WebResourceRequestedEventArgs> {
 public:
  ResourceRequestedArgs(std::string uri, std::string method, Json headers, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context)
      : request_(Make<Request>(std::move(uri), std::move(method), std::move(headers))), context_(context) {}
  HRESULT STDMETHODCALLTYPE get_Request(ICoreWebView2WebResourceRequest** request) override {
    if (!request) return E_POINTER;
    *request = request_.get();
    request_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Response(ICoreWebView2WebResourceResponse** response) override {
    if (!response) return E_POINTER;
    *response = response_.get();
    if (*response) (*response)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Response(ICoreWebView2WebResourceResponse* response) override {
    response_ = ComPtr<ICoreWebView2WebResourceResponse>(response);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ResourceContext(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* context) override {
    return Give(context_, context);
  }
  ICoreWebView2WebResourceResponse* response() const { return response_.get(); }

 private:
  ComPtr<Request> request_;
  ComPtr<ICoreWebView2WebResourceResponse> response_;
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT context_;
};

class MessageArgs final
    : public Com<Stub_ICoreWebView2WebMessageReceivedEventArgs, IID_ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  MessageArgs(std::string source, std::string json, bool isString)
      : source_(std::move(source)), json_(std::move(json)), string_(isString) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* source) override { return GiveString(source_, source); }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* json) override { return GiveString(json_, json); }
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* text) override {
    if (!text) return E_POINTER;
    *text = nullptr;
    if (!string_) return E_INVALIDARG;
    const Json value = Json::parse(json_, nullptr, false);
    return GiveString(value.is_string() ? value.get<std::string>() : std::string(), text);
  }

 private:
  std::string source_, json_;
  bool string_;
};

class NewWindowArgs final
    : public Com<Stub_ICoreWebView2NewWindowRequestedEventArgs, IID_ICoreWebView2NewWindowRequestedEventArgs> {
 public:
  NewWindowArgs(std::string uri, bool user) : uri_(std::move(uri)), user_(user) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return GiveString(uri_, uri); }
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
    handled_ = handled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override { return Give(handled_, handled); }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* v) override { return Give<BOOL>(user_, v); }
  bool handled() const { return handled_ != FALSE; }

 private:
  std::string uri_;
  bool user_;
  BOOL handled_ = FALSE;
};

class ProcessFailedArgs final
    : public Com<Stub_ICoreWebView2ProcessFailedEventArgs, IID_ICoreWebView2ProcessFailedEventArgs> {
 public:
  explicit ProcessFailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND kind) : kind_(kind) {}
  HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) override {
    return Give(kind_, kind);
  }

 private:
  COREWEBVIEW2_PROCESS_FAILED_KIND kind_;
};

// Requests ------------------------------------------------------------------------------

COREWEBVIEW2_WEB_RESOURCE_CONTEXT ContextOf(const std::string& type) {
  static const std::pair<const char*, COREWEBVIEW2_WEB_RESOURCE_CONTEXT> kTypes[] = {
      {"Document", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_DOCUMENT},
      {"Stylesheet", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_STYLESHEET},
      {"Image", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_IMAGE},
      {"Media", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_MEDIA},
      {"Font", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_FONT},
      {"Script", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SCRIPT},
      {"XHR", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_XML_HTTP_REQUEST},
      {"Fetch", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_FETCH},
      {"TextTrack", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_TEXT_TRACK},
      {"EventSource", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_EVENT_SOURCE},
      {"WebSocket", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_WEBSOCKET},
      {"Manifest", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_MANIFEST},
      {"SignedExchange", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SIGNED_EXCHANGE},
      {"Ping", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_PING},
      {"CSPViolationReport", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_CSP_VIOLATION_REPORT},
  };
  for (const auto& [name, context] : kTypes)
    if (type == name) return context;
  return COREWEBVIEW2_WEB_RESOURCE_CONTEXT_OTHER;
}

// WebView2's filter patterns: '*' matches any run of characters.
bool WildcardMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

Json HeaderList(const std::string& headers) {
  Json list = Json::array();
  size_t at = 0;
  while (at < headers.size()) {
    size_t end = headers.find('\n', at);
    if (end == std::string::npos) end = headers.size();
    std::string line = headers.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    list.push_back({{"name", line.substr(0, colon)}, {"value", value}});
  }
  return list;
}

COREWEBVIEW2_WEB_ERROR_STATUS StatusOf(const std::string& error) {
  if (error.find("ERR_ABORTED") != std::string::npos) return COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED;
  if (error.find("ERR_NAME_NOT_RESOLVED") != std::string::npos)
    return COREWEBVIEW2_WEB_ERROR_STATUS_HOST_NAME_NOT_RESOLVED;
  if (error.find("ERR_CONNECTION_REFUSED") != std::string::npos) return COREWEBVIEW2_WEB_ERROR_STATUS_CANNOT_CONNECT;
  if (error.find("ERR_TIMED_OUT") != std::string::npos) return COREWEBVIEW2_WEB_ERROR_STATUS_TIMEOUT;
  return COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
}

std::string JsString(const std::string& text) { return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string ResultAsJson(const std::string& script) {
  return kResultAsJsonHead + JsString(script) + kResultAsJsonTail;
}

// WIC -----------------------------------------------------------------------------------

ComPtr<IWICImagingFactory> Wic() {
  ComPtr<IWICImagingFactory> factory;
  CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   reinterpret_cast<void**>(factory.Put()));
  return factory;
}

HBITMAP DecodeToBitmap(const std::string& bytes, SIZE& size) {
  const auto factory = Wic();
  if (!factory) return nullptr;
  const auto stream = ComPtr<IStream>::Attach(
      SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  if (!stream || FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                         decoder.Put())) ||
      FAILED(decoder->GetFrame(0, frame.Put())) || FAILED(factory->CreateFormatConverter(converter.Put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom)))
    return nullptr;
  UINT w = 0, h = 0;
  converter->GetSize(&w, &h);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(w);
  info.bmiHeader.biHeight = -static_cast<LONG>(h);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  if (FAILED(converter->CopyPixels(nullptr, w * 4, w * h * 4, static_cast<BYTE*>(bits)))) {
    DeleteObject(bitmap);
    return nullptr;
  }
  size = {static_cast<LONG>(w), static_cast<LONG>(h)};
  return bitmap;
}

constexpr wchar_t kViewClass[] = L"VtlFakeEngineView";
constexpr UINT_PTR kPollTimer = 1;

int Modifiers() {
  int m = 0;
  if (GetKeyState(VK_MENU) < 0) m |= 1;
  if (GetKeyState(VK_CONTROL) < 0) m |= 2;
  if (GetKeyState(VK_SHIFT) < 0) m |= 8;
  return m;
}

const char* KeyName(WPARAM vk) {
  switch (vk) {
    case VK_RETURN: return "Enter";
    case VK_BACK: return "Backspace";
    case VK_TAB: return "Tab";
    case VK_ESCAPE: return "Escape";
    case VK_LEFT: return "ArrowLeft";
    case VK_RIGHT: return "ArrowRight";
    case VK_UP: return "ArrowUp";
    case VK_DOWN: return "ArrowDown";
    case VK_DELETE: return "Delete";
    case VK_HOME: return "Home";
    case VK_END: return "End";
    case VK_SPACE: return " ";
    default: return nullptr;
  }
}

}  // namespace

void Log(std::initializer_list<std::string_view> fields) {
  if (const auto& transcript = Role().transcript) vtl::fake::AppendLine(*transcript, fields);
}

bool SaveScreenshot(const std::string& path, std::string& error) {
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, x, y, SRCCOPY | CAPTUREBLT);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  // Opaque: a screen grab's alpha bytes are undefined.
  for (int i = 0; i < w * h; ++i) static_cast<BYTE*>(bits)[i * 4 + 3] = 0xFF;

  const auto factory = Wic();
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  bool ok = factory && SUCCEEDED(factory->CreateStream(stream.Put())) &&
            SUCCEEDED(stream->InitializeFromFilename(Widen(path).c_str(), GENERIC_WRITE)) &&
            SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Put())) &&
            SUCCEEDED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) &&
            SUCCEEDED(encoder->CreateNewFrame(frame.Put(), nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
            SUCCEEDED(frame->SetSize(static_cast<UINT>(w), static_cast<UINT>(h)));
  if (ok) {
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    ok = SUCCEEDED(frame->SetPixelFormat(&format)) &&
         SUCCEEDED(frame->WritePixels(static_cast<UINT>(h), static_cast<UINT>(w) * 4, static_cast<UINT>(w * h * 4),
                                      static_cast<BYTE*>(bits))) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  }
  DeleteObject(bitmap);
  if (!ok) error = "cannot write " + path;
  return ok;
}

// Creation ------------------------------------------------------------------------------

void Page::Create(HWND parent, Ready ready) {
  // The browser's profile: under the user data folder, as WebView2 keeps it.
  std::wstring folder;
  if (const auto udf = EnvironmentValue("WEBVIEW2_USER_DATA_FOLDER"); udf && !udf->empty()) {
    folder = Widen(*udf);
  } else {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + L"vtl-fake-browser-" + std::to_wstring(GetCurrentProcessId());
  }
  std::vector<std::string> extra;
  if (const auto args = EnvironmentValue("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS")) extra = SplitArguments(*args);

  std::unique_ptr<Page> page(new Page());
  page->parent_ = parent;
  // The browser's own file reads go to the runtime too, through the file
  // system that VTL_FAKE_BROWSER_DISK (package_disk.py) mounts for it.
  std::vector<std::string> launcher;
  if (const auto disk = EnvironmentValue("VTL_FAKE_BROWSER_DISK"); disk && !disk->empty()) {
    Page* raw = page.get();
    if (raw->disk_.Start([raw](const std::string& path, DiskServer::Reply reply) {
          raw->ServeDiskRead(path, std::move(reply));
        }))
      launcher = {"/usr/bin/python3", *disk, "launch", std::to_string(raw->disk_.port()), "--"};
    else
      Log({"engine-disk", "unavailable", "no local socket"});
  }
  HWND runner = MakeRunner();
  auto shared = std::make_shared<std::unique_ptr<Page>>(std::move(page));
  std::thread([runner, shared, folder, extra, launcher, ready = std::move(ready)]() mutable {
    Page& p = **shared;
    std::string error;
    // A second program of the same data folder finds the profile's browser
    // in use (it answers on the port it wrote): it gets a profile of its own
    // beside it.
    std::wstring profile = folder + L"\\Browser";
    if (const auto port = Browser::ListeningPort(profile)) {
      Cdp probe;
      std::string ignored;
      if (probe.Connect(port->first, port->second, ignored))
        profile = folder + L"\\Browser-" + std::to_wstring(GetCurrentProcessId());
    }
    const bool ok =
        p.browser_.Launch(profile, launcher, extra, error) && p.cdp_.Connect(p.browser_.port(), p.browser_.path(), error);
    if (!ok) {
      Log({"engine-launch-failed", Narrow(profile), error});
      p.browser_.End();
    } else if (!launcher.empty()) {
      // "mounted", or "unavailable: why" (the browser then reads the real disk).
      Log({"engine-disk", p.browser_.LogNote("package disk: ")});
    }
    auto task = new std::function<void()>([shared, ok, error, ready = std::move(ready)]() mutable {
      if (!ok) {
        Log({"engine-error", error});
        ready(E_FAIL, nullptr);
        return;
      }
      Page* raw = shared->get();
      raw->SetUp([shared, ready = std::move(ready)](HRESULT hr) mutable {
        if (FAILED(hr)) {
          ready(hr, nullptr);
          return;
        }
        ready(S_OK, std::move(*shared));
      });
    });
    PostMessageW(runner, kRun, 0, reinterpret_cast<LPARAM>(task));
  }).detach();
}

Page::~Page() {
  Close();
  if (frame_) DeleteObject(frame_);
}

void Page::SetUp(std::function<void(HRESULT)> done) {
  cdp_.Start([this](const std::string& m, const Json& p, const std::string& s) { OnEvent(m, p, s); },
             [this] {
               Log({"engine-process-failed", "browser-process-exited"});
               if (host_ && !crashed_) {
                 const auto args = Make<ProcessFailedArgs>(COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
                 host_->ProcessFailed(args.get());
               }
             });
  auto finish = std::make_shared<std::function<void(HRESULT)>>(std::move(done));
  cdp_.Send("Target.getTargets", {}, {}, [this, finish](const Json& result, bool failed) {
    std::string target;
    if (!failed)
      for (const auto& info : result.value("targetInfos", Json::array()))
        if (info.value("type", "") == "page" && target.empty()) target = info.value("targetId", "");
    auto attach = [this, finish](const std::string& id) {
      target_ = id;
      mainFrame_ = id;
      cdp_.Send("Target.attachToTarget", {{"targetId", id}, {"flatten", true}}, {},
                [this, finish](const Json& r, bool refused) {
                  if (refused) {
                    Log({"engine-error", "attachToTarget", r.dump()});
                    return (*finish)(E_FAIL);
                  }
                  session_ = r.value("sessionId", "");
                  const std::string s = session_;
                  cdp_.Send("Page.enable", {}, s);
                  cdp_.Send("Runtime.enable", {}, s);
                  cdp_.Send("Runtime.addBinding", {{"name", "__vtlFakeHost"}}, s);
                  cdp_.Send("Page.addScriptToEvaluateOnNewDocument", {{"source", kShim}}, s);
                  cdp_.Send("Fetch.enable", {{"patterns", Json::array({{{"urlPattern", "*"}, {"requestStage", "Request"}}})}},
                            s);
                  cdp_.Send("Target.setAutoAttach",
                            {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}}, {});
                  cdp_.Send("Page.startScreencast", {{"format", "png"}, {"everyNthFrame", 1}}, s);
                  // The last of the set-up: once it is answered, all are.
                  cdp_.Send("Page.getFrameTree", {}, s, [this, finish](const Json& tree, bool) {
                    mainFrame_ = tree["frameTree"]["frame"].value("id", mainFrame_);
                    WNDCLASSW wc{};
                    wc.lpfnWndProc = ViewProc;
                    wc.hInstance = GetModuleHandleW(nullptr);
                    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
                    wc.lpszClassName = kViewClass;
                    RegisterClassW(&wc);
                    view_ = CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                                            parent_, nullptr, wc.hInstance, this);
                    (*finish)(S_OK);
                  });
                });
    };
    if (!target.empty()) return attach(target);
    cdp_.Send("Target.createTarget", {{"url", "about:blank"}}, {}, [attach, finish](const Json& r, bool refused) {
      if (refused) return (*finish)(E_FAIL);
      attach(r.value("targetId", ""));
    });
  });
}

// Navigation ----------------------------------------------------------------------------

void Page::SendNavigation(Json params, const std::string& method) {
  heldNavigations_.emplace_back(method, std::move(params));
  FlushNavigations();
}

// Navigations wait until the document scripts asked for before them are in
// place, or the first document would run without them.
void Page::FlushNavigations() {
  if (pendingScripts_ > 0) return;
  auto held = std::move(heldNavigations_);
  heldNavigations_.clear();
  for (auto& [method, params] : held) {
    cdp_.Send(method, params, session_, [this](const Json& result, bool failed) {
      const std::string error = failed ? result.value("message", "failed") : result.value("errorText", "");
      if (!error.empty() && navigating_) CompleteNavigation(false, StatusOf(error));
    });
  }
}

HRESULT Page::Navigate(const std::string& uri) {
  disk_.Open();
  SendNavigation({{"url", uri}});
  return S_OK;
}

HRESULT Page::NavigateToString(const std::string& html) {
  cdp_.Send("Page.setDocumentContent", {{"frameId", mainFrame_}, {"html", html}}, session_);
  return S_OK;
}

HRESULT Page::Reload() {
  SendNavigation(Json::object(), "Page.reload");
  return S_OK;
}

HRESULT Page::Stop() {
  cdp_.Send("Page.stopLoading", {}, session_);
  return S_OK;
}

HRESULT Page::GoBack() {
  if (CanGoBack()) SendNavigation({{"entryId", historyIds_[historyIndex_ - 1]}}, "Page.navigateToHistoryEntry");
  return S_OK;
}

HRESULT Page::GoForward() {
  if (CanGoForward()) SendNavigation({{"entryId", historyIds_[historyIndex_ + 1]}}, "Page.navigateToHistoryEntry");
  return S_OK;
}

void Page::RefreshHistory() {
  cdp_.Send("Page.getNavigationHistory", {}, session_, [this](const Json& r, bool failed) {
    if (failed) return;
    historyIds_.clear();
    for (const auto& entry : r.value("entries", Json::array())) historyIds_.push_back(entry.value("id", 0));
    historyIndex_ = r.value("currentIndex", 0);
    historyCount_ = static_cast<int>(historyIds_.size());
    if (host_) host_->HistoryChanged();
  });
}

void Page::CompleteNavigation(bool success, COREWEBVIEW2_WEB_ERROR_STATUS status) {
  navigating_ = false;
  const auto args = Make<NavigationCompletedArgs>(success, status, navigationId_);
  if (host_) host_->NavigationCompleted(args.get());
}

// Scripts and messages ------------------------------------------------------------------

HRESULT Page::AddScript(const std::string& script,
                        ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> handler) {
  ++pendingScripts_;
  cdp_.Send("Page.addScriptToEvaluateOnNewDocument", {{"source", script}}, session_,
            [this, handler](const Json& r, bool failed) {
              --pendingScripts_;
              if (handler) handler->Invoke(failed ? E_FAIL : S_OK, Widen(r.value("identifier", "")).c_str());
              FlushNavigations();
            });
  return S_OK;
}

HRESULT Page::RemoveScript(const std::string& id) {
  cdp_.Send("Page.removeScriptToEvaluateOnNewDocument", {{"identifier", id}}, session_);
  return S_OK;
}

void Page::Evaluate(const std::string& expression, std::function<void(const Json&, bool)> reply, bool awaitPromise) {
  cdp_.Send("Runtime.evaluate",
            {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", awaitPromise}}, session_,
            [reply = std::move(reply)](const Json& r, bool failed) {
              if (!reply) return;
              if (failed || r.contains("exceptionDetails")) return reply(r, true);
              reply(r["result"].contains("value") ? r["result"]["value"] : Json(), false);
            });
}

HRESULT Page::ExecuteScript(const std::string& script, ComPtr<ICoreWebView2ExecuteScriptCompletedHandler> handler) {
  Evaluate(ResultAsJson(script), [handler](const Json& value, bool failed) {
    if (!handler) return;
    const std::string json = !failed && value.is_string() ? value.get<std::string>() : "null";
    handler->Invoke(S_OK, Widen(json).c_str());
  });
  return S_OK;
}

HRESULT Page::PostJson(const std::string& json) {
  if (!webMessages_) return S_OK;
  Evaluate("window.__vtlFakeDeliver && window.__vtlFakeDeliver(JSON.parse(" + JsString(json) + "))", {});
  return S_OK;
}

HRESULT Page::PostString(const std::string& text) {
  if (!webMessages_) return S_OK;
  Evaluate("window.__vtlFakeDeliver && window.__vtlFakeDeliver(" + JsString(text) + ")", {});
  return S_OK;
}

void Page::PostToFrame(const std::string& frameId, const std::string& text, bool isString) {
  if (!webMessages_) return;
  const auto context = std::find_if(contexts_.begin(), contexts_.end(),
                                    [&](const auto& c) { return c.second == frameId; });
  if (context == contexts_.end()) {
    Log({"engine-frame-post-lost", frameId});
    return;
  }
  const std::string data = isString ? JsString(text) : "JSON.parse(" + JsString(text) + ")";
  cdp_.Send("Runtime.evaluate",
            {{"expression", "window.__vtlFakeDeliver && window.__vtlFakeDeliver(" + data + ")"},
             {"contextId", context->first}},
            session_);
}

HRESULT Page::CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT format, IStream* stream,
                             ComPtr<ICoreWebView2CapturePreviewCompletedHandler> handler) {
  if (!stream) return E_INVALIDARG;
  ComPtr<IStream> keep(stream);
  cdp_.Send("Page.captureScreenshot",
            {{"format", format == COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_JPEG ? "jpeg" : "png"}}, session_,
            [keep, handler](const Json& r, bool failed) {
              HRESULT hr = failed ? E_FAIL : S_OK;
              if (!failed) {
                const std::string bytes = FromBase64(r.value("data", ""));
                ULONG written = 0;
                hr = keep->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
              }
              if (handler) handler->Invoke(hr);
            });
  return S_OK;
}

void Page::AddFilter(const std::string& uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) {
  filters_.push_back({uri, context});
}

void Page::RemoveFilter(const std::string& uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) {
  std::erase_if(filters_, [&](const Filter& f) { return f.uri == uri && f.context == context; });
}

bool Page::Covered(const std::string& url, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) const {
  return std::any_of(filters_.begin(), filters_.end(), [&](const Filter& f) {
    return (f.context == COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL || f.context == context) && WildcardMatch(f.uri, url);
  });
}

void Page::Setting(const std::string& name, bool value) {
  if (name == "IsScriptEnabled") cdp_.Send("Emulation.setScriptExecutionDisabled", {{"value", !value}}, session_);
  if (name == "IsWebMessageEnabled") webMessages_ = value;
}

// The controller ------------------------------------------------------------------------

void Page::ApplyMetrics() {
  const int w = bounds_.right - bounds_.left, h = bounds_.bottom - bounds_.top;
  if (w <= 0 || h <= 0) return;
  cdp_.Send("Emulation.setDeviceMetricsOverride",
            {{"width", static_cast<int>(w / zoom_)},
             {"height", static_cast<int>(h / zoom_)},
             {"deviceScaleFactor", zoom_},
             {"mobile", false}},
            session_);
}

void Page::SetBounds(const RECT& bounds) {
  bounds_ = bounds;
  if (view_) MoveWindow(view_, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
  ApplyMetrics();
}

void Page::SetVisible(bool visible) {
  visible_ = visible;
  if (view_) ShowWindow(view_, visible ? SW_SHOWNA : SW_HIDE);
}

void Page::SetZoom(double factor) {
  if (factor <= 0) return;
  zoom_ = factor;
  ApplyMetrics();
}

void Page::Focus() {
  if (view_) SetFocus(view_);
}

void Page::Close() {
  if (view_) {
    SetWindowLongPtrW(view_, GWLP_USERDATA, 0);
    DestroyWindow(view_);
    view_ = nullptr;
  }
  // The browser is asked to close, as WebView2 closes its browser process
  // when the last web view of the environment is gone: it writes what the
  // profile still holds in memory (localStorage is kept for seconds before
  // it is written), and a later program of the same data folder finds the
  // profile free. Only a browser that does not end in time is killed.
  disk_.Stop();
  if (cdp_.Connected()) {
    cdp_.Send("Browser.close");
    if (!browser_.WaitForExit(5000)) Log({"engine-close-timeout"});
  }
  browser_.End();
  cdp_.Close();
  host_ = nullptr;
}

// Protocol events -----------------------------------------------------------------------

void Page::OnEvent(const std::string& method, const Json& params, const std::string& session) {
  if (session.empty()) {
    if (method == "Target.attachedToTarget") {
      const Json& info = params["targetInfo"];
      const std::string id = info.value("targetId", ""), s = params.value("sessionId", "");
      if (id == target_) return;
      if (info.value("type", "") == "page" && info.value("openerId", "") == target_) {
        popups_.push_back(s);
        MatchPopups();
      } else if (params.value("waitingForDebugger", false)) {
        cdp_.Send("Runtime.runIfWaitingForDebugger", {}, s);
      }
    } else if (method == "Target.targetCrashed" && params.value("targetId", "") == target_) {
      OnCrashed();
    }
    return;
  }
  if (session != session_) return;
  if (method == "Fetch.requestPaused") {
    OnRequestPaused(params);
  } else if (method == "Page.frameNavigated") {
    OnFrame(params);
  } else if (method == "Page.frameDetached") {
    const std::string id = params.value("frameId", "");
    if (std::erase(childFrames_, id) && host_) host_->FrameDestroyed(id);
  } else if (method == "Page.navigatedWithinDocument") {
    if (params.value("frameId", "") != mainFrame_) return;
    source_ = params.value("url", source_);
    const auto args = Make<SourceChangedArgs>(false);
    if (host_) host_->SourceChanged(args.get());
    RefreshHistory();
  } else if (method == "Page.loadEventFired") {
    if (navigating_) CompleteNavigation(true, COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN);
  } else if (method == "Runtime.executionContextCreated") {
    const Json& context = params["context"];
    const Json aux = context.value("auxData", Json::object());
    if (aux.value("isDefault", false)) contexts_[context.value("id", int64_t{0})] = aux.value("frameId", "");
  } else if (method == "Runtime.executionContextDestroyed") {
    contexts_.erase(params.value("executionContextId", int64_t{0}));
  } else if (method == "Runtime.executionContextsCleared") {
    contexts_.clear();
  } else if (method == "Runtime.bindingCalled") {
    OnBinding(params);
  } else if (method == "Page.screencastFrame") {
    cdp_.Send("Page.screencastFrameAck", {{"sessionId", params.value("sessionId", 0)}}, session_);
    SIZE size{};
    if (HBITMAP bitmap = DecodeToBitmap(FromBase64(params.value("data", "")), size)) {
      if (frame_) DeleteObject(frame_);
      frame_ = bitmap;
      frameSize_ = size;
      if (view_) InvalidateRect(view_, nullptr, FALSE);
    }
  } else if (method == "Page.windowOpen") {
    const std::string url = params.value("url", "");
    const auto args = Make<NewWindowArgs>(url, params.value("userGesture", false));
    if (!host_) return;
    host_->NewWindowRequested(args.get(), [this, args, url] {
      Log({"engine-newwindow", url, args->handled() ? "handled" : "unhandled"});
      openRequests_.emplace_back(url, args->handled());
      MatchPopups();
    });
  } else if (method == "Inspector.targetCrashed") {
    OnCrashed();
  }
}

// A window.open is held until the host has decided: a handled one is
// closed, another runs as a window of its own (never shown: headless).
void Page::MatchPopups() {
  while (!popups_.empty() && !openRequests_.empty()) {
    const std::string s = popups_.front();
    const bool handled = openRequests_.front().second;
    popups_.erase(popups_.begin());
    openRequests_.erase(openRequests_.begin());
    if (handled) {
      cdp_.Send("Runtime.runIfWaitingForDebugger", {}, s);
      cdp_.Send("Page.close", {}, s);
    } else {
      cdp_.Send("Runtime.runIfWaitingForDebugger", {}, s);
    }
  }
}

void Page::OnCrashed() {
  if (crashed_) return;
  crashed_ = true;
  navigating_ = false;
  DropFrames();
  Log({"engine-process-failed", "render-process-exited"});
  const auto args = Make<ProcessFailedArgs>(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
  if (host_) host_->ProcessFailed(args.get());
  if (auto done = std::move(crashDone_)) done();
}

// Every iframe the host knows goes with its top document.
void Page::DropFrames() {
  for (const auto& id : std::exchange(childFrames_, {}))
    if (host_) host_->FrameDestroyed(id);
}

void Page::OnFrame(const Json& params) {
  const Json& frame = params["frame"];
  if (frame.contains("parentId")) {
    // WebView2 raises FrameCreated for the iframes of the top document: a new
    // document in one of them is a frame object of its own.
    if (frame.value("parentId", "") != mainFrame_) return;
    const std::string id = frame.value("id", "");
    if (std::erase(childFrames_, id) && host_) host_->FrameDestroyed(id);
    childFrames_.push_back(id);
    if (host_) host_->FrameCreated(id, frame.value("name", ""), frame.value("url", "") + frame.value("urlFragment", ""));
    return;
  }
  DropFrames();
  mainFrame_ = frame.value("id", mainFrame_);
  crashed_ = false;
  source_ = frame.value("url", "") + frame.value("urlFragment", "");
  fullScreen_ = false;
  const auto changed = Make<SourceChangedArgs>(true);
  if (host_) host_->SourceChanged(changed.get());
  const auto loading = Make<ContentLoadingArgs>(false, navigationId_);
  if (host_) host_->ContentLoading(loading.get());
  RefreshHistory();
}

void Page::OnRequestPaused(const Json& params) {
  const std::string id = params.value("requestId", "");
  const Json& request = params["request"];
  const std::string url = request.value("url", "") + request.value("urlFragment", "");
  const std::string type = params.value("resourceType", "");
  if (type == "Document" && params.value("frameId", "") == mainFrame_ && !params.contains("redirectedRequestId")) {
    navigationId_++;
    navigating_ = true;
    const auto args = Make<NavigationStartingArgs>(url, false, false, navigationId_);
    if (host_) host_->NavigationStarting(args.get());
    if (args->cancelled()) {
      cdp_.Send("Fetch.failRequest", {{"requestId", id}, {"errorReason", "Aborted"}}, session_);
      CompleteNavigation(false, COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED);
      return;
    }
  }
  ServeRequest(params);
}

// Raises WebResourceRequested for one request the filters cover, and hands
// `done` the host's response, or nothing when it left the request alone
// (the request then continues, with a `continued` line of `kind`).
void Page::RaiseResourceRequest(const std::string& url, const std::string& method, const Json& headers,
                                COREWEBVIEW2_WEB_RESOURCE_CONTEXT context, const char* continued,
                                std::function<void(std::optional<ResponseData>)> done) {
  if (!host_ || !Covered(url, context)) {
    Log({continued, url});
    return done(std::nullopt);
  }
  const auto args = Make<ResourceRequestedArgs>(url, method, headers, context);
  host_->WebResourceRequested(args.get(), [this, args, url, continued, done = std::move(done)] {
    ResponseData response;
    if (!host_ || !args->response() || !host_->ReadResponse(args->response(), response)) {
      Log({continued, url});
      return done(std::nullopt);
    }
    done(std::move(response));
  });
}

void Page::ServeRequest(const Json& params) {
  const std::string id = params.value("requestId", "");
  const Json& request = params["request"];
  const std::string url = request.value("url", "");
  RaiseResourceRequest(
      url, request.value("method", "GET"), request.value("headers", Json::object()),
      ContextOf(params.value("resourceType", "")), "continued", [this, id, url](std::optional<ResponseData> response) {
        if (!response) {
          cdp_.Send("Fetch.continueRequest", {{"requestId", id}}, session_);
          return;
        }
        Json fulfil = {{"requestId", id},
                       {"responseCode", response->status},
                       {"responseHeaders", HeaderList(response->headers)},
                       {"body", ToBase64(response->body)}};
        if (!response->reason.empty()) fulfil["responsePhrase"] = response->reason;
        Log({"served", url, std::to_string(response->status), std::to_string(response->body.size())});
        cdp_.Send("Fetch.fulfillRequest", fulfil, session_, [](const Json& r, bool failed) {
          if (failed) Log({"engine-error", "fulfillRequest", r.dump()});
        });
      });
}

// WebView2 raises WebResourceRequested for a dedicated worker's scripts as
// for the document's; here they arrive as paths the browser opens.
void Page::ServeDiskRead(const std::string& path, DiskServer::Reply reply) {
  // The address Chromium gives such a file: its path, percent-encoded.
  std::string url = "file://";
  for (const unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F || c == '%' || c == '#' || c == '?' || c == '"' || c == '<' || c == '>') {
      static const char hex[] = "0123456789ABCDEF";
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    } else {
      url += static_cast<char>(c);
    }
  }
  RaiseResourceRequest(url, "GET", Json::object(), COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SCRIPT, "continued-disk",
                       [url, reply = std::move(reply)](std::optional<ResponseData> response) {
                         if (!response) return reply(0, {});
                         Log({"served-disk", url, std::to_string(response->status),
                              std::to_string(response->body.size())});
                         reply(response->status, std::move(response->body));
                       });
}

void Page::OnBinding(const Json& params) {
  if (params.value("name", "") != "__vtlFakeHost") return;
  const Json message = Json::parse(params.value("payload", ""), nullptr, false);
  if (message.is_discarded()) return;
  const auto context = contexts_.find(params.value("executionContextId", int64_t{0}));
  const bool top = context != contexts_.end() && context->second == mainFrame_;
  const std::string kind = message.value("t", "");
  if (kind == "message") {
    if (!webMessages_) return;
    if (!top) {
      // WebView2 gives an iframe's messages to its frame object, never to
      // the web view; a frame it has no object for (a nested one) is lost.
      const std::string id = context != contexts_.end() ? context->second : "";
      if (std::find(childFrames_.begin(), childFrames_.end(), id) == childFrames_.end()) {
        Log({"engine-frame-message", message.value("src", ""), message.value("json", "")});
        return;
      }
      if (host_) host_->FrameMessage(id, message.value("json", "null"));
      return;
    }
    const auto args = Make<MessageArgs>(message.value("src", ""), message.value("json", "null"),
                                        message.value("str", false));
    if (host_) host_->WebMessageReceived(args.get());
  } else if (!top) {
    return;
  } else if (kind == "title") {
    title_ = message.value("v", "");
    if (host_) host_->DocumentTitleChanged();
  } else if (kind == "close") {
    if (host_) host_->WindowCloseRequested();
  } else if (kind == "fullscreen") {
    fullScreen_ = message.value("v", false);
    if (host_) host_->ContainsFullScreenElementChanged();
  }
}

// The window the page is painted in -----------------------------------------------------

LRESULT CALLBACK Page::ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* created = static_cast<Page*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    created->view_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* self = reinterpret_cast<Page*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->ViewMessage(message, wParam, lParam);
}

void Page::Mouse(const char* type, LPARAM lParam, const char* button, int clicks, std::function<void()> acked) {
  const double x = static_cast<short>(LOWORD(lParam)) / zoom_, y = static_cast<short>(HIWORD(lParam)) / zoom_;
  Json params = {{"type", type}, {"x", x}, {"y", y}, {"modifiers", Modifiers()}, {"button", button}};
  if (clicks) params["clickCount"] = clicks;
  cdp_.Send("Input.dispatchMouseEvent", params, session_,
            [acked = std::move(acked)](const Json&, bool) {
              if (acked) acked();
            });
}

LRESULT Page::ViewMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(view_, &ps);
      RECT client{};
      GetClientRect(view_, &client);
      if (frame_) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, frame_);
        BitBlt(dc, 0, 0, frameSize_.cx, frameSize_.cy, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
        ExcludeClipRect(dc, 0, 0, frameSize_.cx, frameSize_.cy);
      }
      FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      EndPaint(view_, &ps);
      return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_GETDLGCODE: return DLGC_WANTALLKEYS | DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_WANTTAB;
    case WM_MOUSEMOVE:
      Mouse("mouseMoved", lParam, (wParam & MK_LBUTTON) ? "left" : "none", 0);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      SetFocus(view_);
      Mouse("mousePressed", lParam, message == WM_LBUTTONDOWN ? "left" : "right", 1);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
      Mouse("mouseReleased", lParam, message == WM_LBUTTONUP ? "left" : "right", 1, std::move(pendingClick_));
      pendingClick_ = nullptr;
      return 0;
    case WM_MOUSEWHEEL: {
      POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      ScreenToClient(view_, &p);
      cdp_.Send("Input.dispatchMouseEvent",
                {{"type", "mouseWheel"}, {"x", p.x / zoom_}, {"y", p.y / zoom_}, {"deltaX", 0},
                 {"deltaY", -static_cast<short>(HIWORD(wParam))}},
                session_);
      return 0;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
      Json params = {{"type", down ? "rawKeyDown" : "keyUp"},
                     {"windowsVirtualKeyCode", static_cast<int>(wParam)},
                     {"nativeVirtualKeyCode", static_cast<int>(wParam)},
                     {"modifiers", Modifiers()}};
      if (const char* key = KeyName(wParam)) params["key"] = key;
      cdp_.Send("Input.dispatchKeyEvent", params, session_);
      return 0;
    }
    case WM_CHAR: {
      const wchar_t c[2] = {static_cast<wchar_t>(wParam), 0};
      if (wParam < 0x20 && wParam != '\r') return 0;
      cdp_.Send("Input.dispatchKeyEvent",
                {{"type", "char"}, {"text", wParam == '\r' ? std::string("\r") : Narrow(c)}, {"modifiers", Modifiers()}},
                session_);
      return 0;
    }
    case WM_TIMER:
      return 0;
    default: break;
  }
  return DefWindowProcW(view_, message, wParam, lParam);
}

// Scenario commands -----------------------------------------------------------------------

bool Page::RunStep(const std::string& command, const std::string& rest, std::function<void()> done) {
  if (command == "eval") {
    const std::string expression = "(async () => { let r = await (0, eval)(" + JsString(rest) +
                                   "); if (r === undefined) return \"undefined\"; return JSON.stringify(r); })()";
    Evaluate(expression, [done, rest](const Json& value, bool failed) {
      std::string text;
      if (failed) text = "error: " + value.value("exceptionDetails", Json::object()).value("exception", Json::object()).value("description", value.dump());
      else text = value.is_string() ? value.get<std::string>() : value.dump();
      Log({"eval", text});
      done();
    }, true);
    return true;
  }
  if (command == "wait-for") {
    const ULONGLONG deadline = GetTickCount64() + 30000;
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [this, poll, deadline, done, rest] {
      Evaluate("!!(" + rest + ")", [this, poll, deadline, done, rest](const Json& value, bool failed) {
        if (!failed && value.is_boolean() && value.get<bool>()) {
          *poll = nullptr;  // the cycle ends
          return done();
        }
        if (GetTickCount64() > deadline) {
          Log({"wait-for-timeout", rest});
          *poll = nullptr;
          return done();
        }
        // The next try after 50 ms, from this thread's message loop.
        auto again = poll;
        std::thread([again, runner = MakeRunner()] {
          Sleep(50);
          PostMessageW(runner, kRun, 0, reinterpret_cast<LPARAM>(new std::function<void()>([again] {
                         if (*again) (*again)();
                       })));
        }).detach();
      });
    };
    (*poll)();
    return true;
  }
  if (command == "click") {
    const std::string expression =
        "(() => { const e = document.querySelector(" + JsString(rest) +
        "); if (!e) return null; e.scrollIntoView({block: 'center', inline: 'center'}); const r = "
        "e.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()";
    Evaluate(expression, [this, done, rest](const Json& value, bool failed) {
      if (failed || !value.is_array() || !view_) {
        Log({"click", rest, "not found"});
        return done();
      }
      POINT p{static_cast<LONG>(value[0].get<double>() * zoom_), static_cast<LONG>(value[1].get<double>() * zoom_)};
      POINT screen = p;
      ClientToScreen(view_, &screen);
      const HWND hit = WindowFromPoint(screen);
      if (hit != view_) {
        Log({"click", rest, "covered"});
        return done();
      }
      // As the user's click arrives: at the window under the pointer. The
      // step ends once the page has had the button's release.
      pendingClick_ = [done, rest] {
        Log({"click", rest, "clicked"});
        done();
      };
      const LPARAM at = MAKELPARAM(p.x, p.y);
      PostMessageW(view_, WM_MOUSEMOVE, 0, at);
      PostMessageW(view_, WM_LBUTTONDOWN, MK_LBUTTON, at);
      PostMessageW(view_, WM_LBUTTONUP, 0, at);
    });
    return true;
  }
  if (command == "crash") {
    crashDone_ = done;
    cdp_.Send("Page.crash", {}, session_);
    return true;
  }
  return false;
}

}  // namespace fake::engine
