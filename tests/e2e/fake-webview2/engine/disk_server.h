#pragma once

// The browser's own reads of files, answered by the runtime. Chromium reads
// some file: addresses itself, past every request interception of its
// DevTools protocol (a dedicated worker's scripts, its importScripts and
// module imports); WebView2 raises WebResourceRequested for those too. So in
// browser mode the browser runs chrooted into a FUSE file system
// (package_disk.py), which asks this server for each file it opens: one path
// a line on a local socket, answered "STATUS LENGTH", a newline and the body.
// Every path is handed to the thread that started the server, whose `serve`
// raises the event and replies; status 0 means unanswered.

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fake::engine {

class DiskServer {
 public:
  using Reply = std::function<void(int status, std::string body)>;
  using Serve = std::function<void(const std::string& path, Reply reply)>;

  DiskServer() = default;
  ~DiskServer();
  DiskServer(const DiskServer&) = delete;
  DiskServer& operator=(const DiskServer&) = delete;

  // Listens on 127.0.0.1 at a port of the system's choice; `serve` runs on
  // this thread, through its message loop. False when no socket can be had.
  bool Start(Serve serve);
  int port() const { return port_; }
  // From now on paths are served; before, every one is unanswered at once
  // (the browser's own start-up looks at a few paths of the root).
  void Open();
  // Closes the socket and every connection; a request in flight is answered
  // as unanswered. Paths that arrive later are never served.
  void Stop();

 // What the UI thread and the socket threads share (disk_server.cpp).
  struct Shared;

 private:
  void AcceptLoop();
  void Connection(uintptr_t socket);

  std::shared_ptr<Shared> shared_;
  uintptr_t listener_ = ~uintptr_t{0};
  int port_ = 0;
  HANDLE acceptor_ = nullptr;
};

}  // namespace fake::engine
