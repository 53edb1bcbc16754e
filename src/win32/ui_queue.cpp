#include "win32/ui_queue.h"

#include <windows.h>

#include <deque>
#include <exception>
#include <string>
#include <mutex>

namespace vtl::win32 {
namespace {

constexpr UINT kRunQueue = WM_APP + 1;

std::mutex queueLock;
std::deque<std::function<void()>> queue;
HWND queueWindow = nullptr;

LRESULT CALLBACK QueueProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kRunQueue) return DefWindowProcW(window, message, wParam, lParam);
  // One procedure per message: a procedure that runs a nested message loop
  // (a dialog) lets the next ones run inside it, still in order.
  std::function<void()> procedure;
  {
    const std::lock_guard lock(queueLock);
    if (queue.empty()) return 0;
    procedure = std::move(queue.front());
    queue.pop_front();
  }
  // An error a procedure leaves is shown the way the application shows any
  // error it did not expect, and the loop goes on.
  try {
    procedure();
  } catch (const std::exception& error) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, error.what(), -1, nullptr, 0);
    std::wstring text(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, error.what(), -1, text.data(), n);
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
  }
  return 0;
}

}  // namespace

void InitializeUiQueue() {
  if (queueWindow) return;
  WNDCLASSW wc{};
  wc.lpfnWndProc = QueueProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VantrelUiQueue";
  RegisterClassW(&wc);
  queueWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

void QueueOnUiThread(std::function<void()> procedure) {
  {
    const std::lock_guard lock(queueLock);
    if (!queueWindow) return;
    queue.push_back(std::move(procedure));
  }
  PostMessageW(queueWindow, kRunQueue, 0, 0);
}

}  // namespace vtl::win32
