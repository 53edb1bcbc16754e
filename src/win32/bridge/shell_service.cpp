#include "win32/bridge/shell_service.h"

#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "win32/bridge/system_error_text.h"
#include "win32/start_environment.h"
#include "win32/sys_utils.h"

namespace vtl::win32 {
namespace {

constexpr UINT kCommandsFinished = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"VantrelShellCommandSink";

// The shell reports most refusals through the thread's last error; where it
// leaves none, its own result code is a Win32 error code for the common cases.
SystemOutcome Refusal(DWORD lastError) {
  return SystemOutcome::Refused(SystemErrorText(lastError != 0 ? lastError : ERROR_FILE_NOT_FOUND));
}

}  // namespace

// Outputs of ended commands, waiting for the user-interface thread.
struct Win32ShellService::Finished {
  std::mutex lock;
  HWND window = nullptr;  // null once the service is gone
  std::deque<std::pair<uint64_t, std::string>> outputs;
};

Win32ShellService::Win32ShellService() : finished_(std::make_shared<Finished>()) {
  static const ATOM windowClass = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    return RegisterClassExW(&wc);
  }();
  window_ = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(windowClass)), L"", 0, 0, 0, 0, 0,
                            HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) throw std::runtime_error("Cannot create the shell command window");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  finished_->window = window_;
}

Win32ShellService::~Win32ShellService() {
  {
    const std::lock_guard guard(finished_->lock);
    finished_->window = nullptr;
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

// Programs the page starts get the environment the runtime was started with,
// not the WebView2 variables of its own web view.
SystemOutcome Win32ShellService::ShellExec(const std::string& filePath, const std::string& arguments) {
  bool accepted = false;
  DWORD error = 0;
  {
    const StartEnvironmentScope startEnvironment;
    SetLastError(0);
    accepted = TSysUtils::ShellExec(filePath, arguments);
    error = GetLastError();
  }
  if (accepted) return SystemOutcome::Accepted();
  return Refusal(error);
}

SystemOutcome Win32ShellService::ShellExplore(const std::string& filePath) {
  SetLastError(0);
  if (TSysUtils::ShellExplore(filePath)) return SystemOutcome::Accepted();
  return Refusal(GetLastError());
}

void Win32ShellService::GetDosOutput(const std::string& command, const std::string& workingDir, bool showWindow,
                                     CommandDone done) {
  const uint64_t id = ++nextCommand_;
  std::thread worker([finished = finished_, id, command, workingDir, showWindow,
                       environment = StartEnvironmentBlock()] {
    std::string output = TSysUtils::GetDosOutput(command, workingDir, showWindow, &environment);
    const std::lock_guard guard(finished->lock);
    if (finished->window == nullptr) return;
    finished->outputs.emplace_back(id, std::move(output));
    PostMessageW(finished->window, kCommandsFinished, 0, 0);
  });
  pending_.emplace(id, std::move(done));
  worker.detach();
}

std::vector<std::string> Win32ShellService::GetWindowsCaptions() {
  std::vector<std::string> captions;
  TSysUtils::GetWindowsCaptions(captions);
  return captions;
}

void Win32ShellService::DeliverFinished() {
  std::deque<std::pair<uint64_t, std::string>> outputs;
  {
    const std::lock_guard guard(finished_->lock);
    outputs.swap(finished_->outputs);
  }
  for (auto& [id, output] : outputs) {
    const auto it = pending_.find(id);
    if (it == pending_.end()) continue;
    CommandDone done = std::move(it->second);
    pending_.erase(it);
    // Taken out of the table first: the callback may start another command.
    try {
      if (done) done(std::move(output));
    } catch (...) {
      // An error in one reply must neither leave through the window
      // procedure nor hold back the other replies.
    }
  }
}

LRESULT CALLBACK Win32ShellService::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kCommandsFinished) {
    if (auto* self = reinterpret_cast<Win32ShellService*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      self->DeliverFinished();
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vtl::win32
