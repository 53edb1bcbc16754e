#pragma once

// A client of the browser's DevTools protocol over WinHTTP's WebSocket
// client. One worker thread reads the socket; every message it reads is
// handed to the thread that made the connection (through a message-only
// window of that thread), one message per turn of its message loop, and the
// answers and events are dispatched there. Commands may be sent from that
// thread only.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace fake::engine {

using Json = nlohmann::json;

class Cdp {
 public:
  // An answer: the "result" object, or the "error" object with failed set.
  using Reply = std::function<void(const Json& result, bool failed)>;
  // An event: method, params and the session it came from ("" for the browser).
  using Listener = std::function<void(const std::string& method, const Json& params, const std::string& session)>;

  Cdp();
  ~Cdp();
  Cdp(const Cdp&) = delete;
  Cdp& operator=(const Cdp&) = delete;

  // Connects to ws://127.0.0.1:port/path. Blocking; any thread. False with
  // a reason in `error`.
  bool Connect(int port, const std::string& path, std::string& error);
  // Starts reading; events and answers go to the thread calling this.
  void Start(Listener listener, std::function<void()> lost);
  int64_t Send(const std::string& method, Json params = Json::object(), const std::string& session = {},
               Reply reply = {});
  bool Connected() const { return socket_ != nullptr && !closed_; }
  // Answers that never came, e.g. of a page that crashed, are dropped.
  void Forget(int64_t id) { replies_.erase(id); }
  void Close();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void ReadLoop();
  void DispatchOne();

  void* session_ = nullptr;  // HINTERNET
  void* connection_ = nullptr;
  void* socket_ = nullptr;
  HWND window_ = nullptr;
  std::mutex sendLock_, queueLock_;
  std::deque<std::string> inbox_;
  bool lostQueued_ = false;
  bool closed_ = false;
  HANDLE reader_ = nullptr;
  int64_t nextId_ = 1;
  std::map<int64_t, Reply> replies_;
  Listener listener_;
  std::function<void()> lost_;
};

}  // namespace fake::engine
