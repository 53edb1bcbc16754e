#include "win32/main_form.h"

#include <windows.h>

#include "win32/forms/rounded_form.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

constexpr wchar_t kClassName[] = L"VantrelMainForm";

LRESULT CALLBACK MainFormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

int RunMainForm(const Runtime& rt) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainFormProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, L"MAINICON");
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);

  const int width = rt.RuntimeINI.ReadInteger("App", "Width", 800);
  const int height = rt.RuntimeINI.ReadInteger("App", "Height", 600);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  const HWND hwnd = CreateWindowExW(WS_EX_APPWINDOW, kClassName, Widen(rt.RuntimeAppName).c_str(),
                                    WS_OVERLAPPEDWINDOW, left, top, width, height, nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 1;
  ApplyRoundedCorners(hwnd);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace vtl::win32
