#pragma once

// The browser behind the fake's browser mode: a Linux Chromium started by
// its Unix path (Wine runs Unix programs through CreateProcessW), in a
// profile folder of its own, reached over its DevTools port.
//
// Wine gives no handle or pid of a Unix child, so the browser is started
// through /bin/sh, which writes the browser's process group to a file and
// then watches a heartbeat file this process touches every second: when this
// process ends, however it ends, the shell ends the browser. Each pid is also appended to the file named by
// VTL_FAKE_BROWSER_PIDS, for sweeps by the tests and scripts/test.

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fake::engine {

// The browser program the test environment asks for (VTL_FAKE_BROWSER), or
// nothing: then the fake runs without a browser.
std::optional<std::string> BrowserProgram();
bool BrowserMode();

// A Windows path as the Unix path Wine maps it to; empty when there is none.
std::string UnixPath(const std::wstring& windowsPath);
// Starts a Unix program with these arguments, with no window and no waiting.
bool StartUnixProgram(const std::string& program, const std::vector<std::string>& arguments);

class Browser {
 public:
  Browser() = default;
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // Starts the browser with its profile in `profile` (a Windows folder,
  // created when missing) and waits until it listens; `launcher`, when not
  // empty, is a Unix command that runs the browser's command line after it.
  // Blocking. False with a reason in `error`.
  bool Launch(const std::wstring& profile, const std::vector<std::string>& launcher,
              const std::vector<std::string>& extraArguments, std::string& error);
  // The port and path a browser of that profile wrote, if any.
  static std::optional<std::pair<int, std::string>> ListeningPort(const std::wstring& profile);
  int port() const { return port_; }
  const std::string& path() const { return path_; }  // of the browser's own WebSocket
  unsigned long pid() const { return pid_; }
  // The rest of the first line of the browser's log that starts with
  // `prefix`; empty when there is none.
  std::string LogNote(const std::string& prefix) const;
  // Waits until the browser has exited (its shell wrote the exit status to
  // the log), at most `ms`; false when it is still running.
  bool WaitForExit(unsigned long ms) const;
  // Ends the browser by its pid now (also done when this object goes).
  void End();

 private:
  bool StartOnce(const std::wstring& profile, const std::vector<std::string>& arguments, std::string& error);
  void StartHeartbeat(const std::wstring& file);
  HANDLE beat_ = nullptr;  // the thread that touches the heartbeat file
  std::wstring beatFile_;
  std::wstring profile_;
  std::atomic<bool> stop_{false};
  unsigned long pid_ = 0;
  int port_ = 0;
  std::string path_;
};

// Splits a command line the way WebView2 reads its additional browser
// arguments: blanks separate, double quotes group.
std::vector<std::string> SplitArguments(const std::string& text);

}  // namespace fake::engine
