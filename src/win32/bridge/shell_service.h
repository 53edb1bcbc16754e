#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>

#include "core/platform/shell.h"

namespace vtl::win32 {

// The shell commands' adapter. Create it on the user-interface thread: a
// console command runs on a thread of its own, and its output comes back to
// this thread through a message-only window, so the thread's message loop
// keeps running meanwhile. Completions that arrive after the service is
// destroyed are dropped; the command itself runs on to its end.
class Win32ShellService final : public ShellService {
 public:
  Win32ShellService();
  ~Win32ShellService() override;
  Win32ShellService(const Win32ShellService&) = delete;
  Win32ShellService& operator=(const Win32ShellService&) = delete;

  SystemOutcome ShellExec(const std::string& filePath, const std::string& arguments) override;
  SystemOutcome ShellExplore(const std::string& filePath) override;
  void GetDosOutput(const std::string& command, const std::string& workingDir, bool showWindow,
                    CommandDone done) override;
  std::vector<std::string> GetWindowsCaptions() override;

 private:
  struct Finished;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void DeliverFinished();

  std::shared_ptr<Finished> finished_;  // shared with the command threads
  HWND window_ = nullptr;
  uint64_t nextCommand_ = 0;
  std::map<uint64_t, CommandDone> pending_;
};

}  // namespace vtl::win32
