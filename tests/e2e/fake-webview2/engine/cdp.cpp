#include "engine/cdp.h"

#include <winhttp.h>

#include <vector>

namespace fake::engine {
namespace {

constexpr UINT kInbox = WM_APP + 21;
constexpr wchar_t kClass[] = L"VtlFakeEngineInbox";

std::string LastErrorText(const char* what) { return std::string(what) + " failed, error " + std::to_string(GetLastError()); }

}  // namespace

Cdp::Cdp() = default;

Cdp::~Cdp() {
  Close();
  if (reader_) {
    WaitForSingleObject(reader_, 2000);
    CloseHandle(reader_);
  }
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  if (connection_) WinHttpCloseHandle(connection_);
  if (session_) WinHttpCloseHandle(session_);
}

bool Cdp::Connect(int port, const std::string& path, std::string& error) {
  session_ = WinHttpOpen(L"vtl-fake-engine", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                         WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session_) return error = LastErrorText("WinHttpOpen"), false;
  connection_ = WinHttpConnect(session_, L"127.0.0.1", static_cast<INTERNET_PORT>(port), 0);
  if (!connection_) return error = LastErrorText("WinHttpConnect"), false;
  const std::wstring widePath(path.begin(), path.end());
  HINTERNET request = WinHttpOpenRequest(connection_, L"GET", widePath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  if (!request) return error = LastErrorText("WinHttpOpenRequest"), false;
  bool ok = WinHttpSetOption(request, WINHTTP_OPTION_UPGRADE_TO_WEB_SOCKET, nullptr, 0) &&
            WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) &&
            WinHttpReceiveResponse(request, nullptr);
  if (!ok) {
    error = LastErrorText("WebSocket upgrade request");
    WinHttpCloseHandle(request);
    return false;
  }
  socket_ = WinHttpWebSocketCompleteUpgrade(request, 0);
  if (!socket_) error = LastErrorText("WinHttpWebSocketCompleteUpgrade");
  WinHttpCloseHandle(request);
  return socket_ != nullptr;
}

void Cdp::Start(Listener listener, std::function<void()> lost) {
  listener_ = std::move(listener);
  lost_ = std::move(lost);
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);
  window_ = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  reader_ = CreateThread(
      nullptr, 0,
      [](void* self) -> DWORD {
        static_cast<Cdp*>(self)->ReadLoop();
        return 0;
      },
      this, 0, nullptr);
}

void Cdp::ReadLoop() {
  std::vector<char> buffer(1 << 20);
  std::string message;
  for (;;) {
    DWORD got = 0;
    WINHTTP_WEB_SOCKET_BUFFER_TYPE type{};
    const DWORD rc = WinHttpWebSocketReceive(socket_, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &type);
    if (rc != NO_ERROR || type == WINHTTP_WEB_SOCKET_CLOSE_BUFFER_TYPE) break;
    message.append(buffer.data(), got);
    if (type == WINHTTP_WEB_SOCKET_UTF8_FRAGMENT_BUFFER_TYPE || type == WINHTTP_WEB_SOCKET_BINARY_FRAGMENT_BUFFER_TYPE)
      continue;
    {
      const std::lock_guard lock(queueLock_);
      inbox_.push_back(std::move(message));
    }
    message.clear();
    PostMessageW(window_, kInbox, 0, 0);
  }
  {
    const std::lock_guard lock(queueLock_);
    lostQueued_ = true;
  }
  PostMessageW(window_, kInbox, 0, 0);
}

LRESULT CALLBACK Cdp::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kInbox) {
    if (auto* self = reinterpret_cast<Cdp*>(GetWindowLongPtrW(window, GWLP_USERDATA))) self->DispatchOne();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Cdp::DispatchOne() {
  std::string text;
  bool lost = false;
  {
    const std::lock_guard lock(queueLock_);
    if (!inbox_.empty()) {
      text = std::move(inbox_.front());
      inbox_.pop_front();
    } else if (lostQueued_) {
      lostQueued_ = false;
      lost = true;
    } else {
      return;
    }
  }
  if (lost) {
    closed_ = true;
    replies_.clear();
    if (lost_) lost_();
    return;
  }
  const Json message = Json::parse(text, nullptr, false);
  if (message.is_discarded()) return;
  const std::string session = message.value("sessionId", "");
  if (message.contains("id")) {
    const auto it = replies_.find(message["id"].get<int64_t>());
    if (it == replies_.end()) return;
    Reply reply = std::move(it->second);
    replies_.erase(it);
    if (!reply) return;
    if (message.contains("error")) {
      reply(message["error"], true);
    } else {
      reply(message.contains("result") ? message["result"] : Json::object(), false);
    }
  } else if (message.contains("method") && listener_) {
    listener_(message["method"].get<std::string>(), message.contains("params") ? message["params"] : Json::object(),
              session);
  }
}

int64_t Cdp::Send(const std::string& method, Json params, const std::string& session, Reply reply) {
  const int64_t id = nextId_++;
  Json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
  if (!session.empty()) message["sessionId"] = session;
  const std::string text = message.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (reply) replies_[id] = std::move(reply);
  if (!Connected()) {
    replies_.erase(id);
    return id;
  }
  const std::lock_guard lock(sendLock_);
  if (WinHttpWebSocketSend(socket_, WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE, const_cast<char*>(text.data()),
                           static_cast<DWORD>(text.size())) != NO_ERROR)
    replies_.erase(id);
  return id;
}

void Cdp::Close() {
  if (socket_ && !closed_) {
    closed_ = true;
    WinHttpWebSocketClose(socket_, WINHTTP_WEB_SOCKET_SUCCESS_CLOSE_STATUS, nullptr, 0);
  }
  if (socket_ && reader_) {
    WaitForSingleObject(reader_, 2000);
  }
  if (socket_) {
    WinHttpCloseHandle(socket_);
    socket_ = nullptr;
  }
}

}  // namespace fake::engine
