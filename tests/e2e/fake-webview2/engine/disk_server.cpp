#include "engine/disk_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <thread>

namespace fake::engine {
namespace {

constexpr UINT kServe = WM_APP + 23;
constexpr wchar_t kClass[] = L"VtlFakeDiskServer";
constexpr DWORD kAnswerTimeoutMs = 60000;

bool SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    const int sent = send(s, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

// What the UI thread and the socket threads share; it outlives the server
// while a thread still holds it.
struct DiskServer::Shared {
  Serve serve;
  HWND window = nullptr;
  std::atomic<bool> stopped{false};
  std::atomic<bool> open{false};
  std::mutex lock;
  std::vector<SOCKET> connections;
};

namespace {

struct Request {
  std::string path;
  HANDLE done = nullptr;
  int status = 0;
  std::string body;
};

}  // namespace

// The window's user data is the server's shared state, cleared by Stop() on
// this same thread before the window goes: a path is served only while the
// server is up.
static LRESULT CALLBACK ServerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kServe) return DefWindowProcW(window, message, wParam, lParam);
  const std::unique_ptr<std::shared_ptr<Request>> held(reinterpret_cast<std::shared_ptr<Request>*>(lParam));
  std::shared_ptr<Request> request = *held;
  auto* shared = reinterpret_cast<DiskServer::Shared*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!shared || shared->stopped) {
    SetEvent(request->done);
    return 0;
  }
  shared->serve(request->path, [request](int status, std::string body) {
    request->status = status;
    request->body = std::move(body);
    SetEvent(request->done);
  });
  return 0;
}

DiskServer::~DiskServer() { Stop(); }

bool DiskServer::Start(Serve serve) {
  WSADATA wsa{};
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(s);
    return false;
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = ServerProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);
  shared_ = std::make_shared<Shared>();
  shared_->serve = std::move(serve);
  shared_->window = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (!shared_->window) {
    closesocket(s);
    shared_.reset();
    return false;
  }
  SetWindowLongPtrW(shared_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(shared_.get()));
  listener_ = s;
  port_ = ntohs(address.sin_port);
  acceptor_ = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        static_cast<DiskServer*>(p)->AcceptLoop();
        return 0;
      },
      this, 0, nullptr);
  return true;
}

void DiskServer::AcceptLoop() {
  const auto shared = shared_;
  const SOCKET listener = static_cast<SOCKET>(listener_);
  for (;;) {
    const SOCKET c = accept(listener, nullptr, nullptr);
    if (c == INVALID_SOCKET) return;
    {
      std::lock_guard<std::mutex> hold(shared->lock);
      if (shared->stopped) {
        closesocket(c);
        return;
      }
      shared->connections.push_back(c);
    }
    std::thread([shared, c] {
      std::string pending;
      char buffer[4096];
      for (;;) {
        const size_t newline = pending.find('\n');
        if (newline == std::string::npos) {
          const int got = recv(c, buffer, sizeof buffer, 0);
          if (got <= 0) break;
          pending.append(buffer, static_cast<size_t>(got));
          continue;
        }
        auto request = std::make_shared<Request>();
        request->path = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        request->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // Before the first navigation no file can be the package's: the
        // browser's own start-up probes are answered at once.
        const bool posted = !shared->stopped && shared->open &&
                            PostMessageW(shared->window, kServe, 0,
                                         reinterpret_cast<LPARAM>(new std::shared_ptr<Request>(request)));
        if (posted) WaitForSingleObject(request->done, kAnswerTimeoutMs);
        // A request not answered in time, or after the end, is unanswered.
        const bool answered = posted && WaitForSingleObject(request->done, 0) == WAIT_OBJECT_0;
        const std::string head = std::to_string(answered ? request->status : 0) + " " +
                                 std::to_string(answered ? request->body.size() : 0) + "\n";
        const bool sent = SendAll(c, head.data(), head.size()) &&
                          (!answered || SendAll(c, request->body.data(), request->body.size()));
        if (answered) CloseHandle(request->done);
        if (!sent) break;
      }
      std::lock_guard<std::mutex> hold(shared->lock);
      if (!shared->stopped) {
        std::erase(shared->connections, c);
        closesocket(c);
      }
    }).detach();
  }
}

void DiskServer::Open() {
  if (shared_) shared_->open = true;
}

void DiskServer::Stop() {
  if (!shared_) return;
  {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->stopped = true;
    for (const SOCKET c : shared_->connections) closesocket(c);
    shared_->connections.clear();
  }
  closesocket(static_cast<SOCKET>(listener_));
  listener_ = ~uintptr_t{0};
  if (acceptor_) {
    WaitForSingleObject(acceptor_, 3000);
    CloseHandle(acceptor_);
    acceptor_ = nullptr;
  }
  if (shared_->window) {
    SetWindowLongPtrW(shared_->window, GWLP_USERDATA, 0);
    DestroyWindow(shared_->window);
  }
  shared_.reset();
}

}  // namespace fake::engine
