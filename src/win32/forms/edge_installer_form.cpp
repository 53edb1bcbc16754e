#include "win32/forms/edge_installer_form.h"

#include "win32/forms/rounded_form.h"

namespace vtl::win32 {
namespace {

using namespace forms;

constexpr wchar_t kClassName[] = L"TEdgeInstallerForm";
constexpr int kClientSize = 80;
constexpr int kIndicatorLeft = 9, kIndicatorTop = 8, kIndicatorSize = 64;
constexpr int kCorner = 4;  // width and height of the region's corner ellipses
constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT kFrameInterval = 15;  // milliseconds

}  // namespace

bool TEdgeInstallerForm::RegisterWindowClass() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_DROPSHADOW;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hIcon = LoadIconW(windowClass.hInstance, L"MAINICON");
  windowClass.hCursor = LoadCursorW(nullptr, IDC_APPSTARTING);
  windowClass.lpszClassName = kClassName;
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

TEdgeInstallerForm::FrameBuffer::~FrameBuffer() {
  if (dc && previous) SelectObject(dc.get(), previous);
}

TEdgeInstallerForm::TEdgeInstallerForm(COLORREF color, COLORREF indicatorColor, TActivityIndicatorType indicatorType)
    : color_(color), indicatorColor_(indicatorColor), indicatorType_(indicatorType) {
  QueryPerformanceFrequency(&frequency_);
  QueryPerformanceCounter(&start_);
}

TEdgeInstallerForm::~TEdgeInstallerForm() { window_.reset(); }

std::unique_ptr<TEdgeInstallerForm> TEdgeInstallerForm::Create(int32_t color, int32_t indicatorColor,
                                                               int32_t indicatorType) {
  static const bool registered = RegisterWindowClass();
  if (!registered) return nullptr;
  const auto type = indicatorType == 1   ? TActivityIndicatorType::RotatingSector
                    : indicatorType == 2 ? TActivityIndicatorType::SectorRing
                                         : TActivityIndicatorType::MomentumDots;
  std::unique_ptr<TEdgeInstallerForm> form(
      new TEdgeInstallerForm(ColorToRGB(color), indicatorColor == 0 ? RGB(0, 0, 0) : RGB(255, 255, 255), type));
  const RECT area = PrimaryWorkArea();
  form->window_.reset(CreateWindowExW(0, kClassName, L"", WS_POPUP, (area.left + area.right) / 2,
                                      (area.top + area.bottom) / 2, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr),
                                      form.get()));
  HWND window = form->handle();
  if (!window) return nullptr;
  form->ApplyDpi(WindowDpi(window));
  ApplyRoundedCorners(window);
  SetTimer(window, kAnimationTimer, kFrameInterval, nullptr);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);  // the active window owns the installer's elevation prompt
  UpdateWindow(window);
  return form;
}

LRESULT CALLBACK TEdgeInstallerForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  } else if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
  auto* self = reinterpret_cast<TEdgeInstallerForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self ? self->Handle(window, message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TEdgeInstallerForm::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:  // the user cannot close it; it goes with the process
      return 0;
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_TIMER:
      if (wParam == kAnimationTimer) InvalidateRect(window, &indicator_, FALSE);
      return 0;
    case WM_DPICHANGED:
      ApplyDpi(HIWORD(wParam));
      return 0;
    case WM_DESTROY:
      KillTimer(window, kAnimationTimer);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void TEdgeInstallerForm::ApplyDpi(UINT dpi) {
  HWND window = handle();
  const int size = Scale(kClientSize, dpi);
  CenterInWorkArea(window, size, size);
  UniqueRegion region(CreateRoundRectRgn(0, 0, size + 1, size + 1, Scale(kCorner, dpi), Scale(kCorner, dpi)));
  if (region && SetWindowRgn(window, region.get(), TRUE)) region.release();  // the window owns it now

  const int indicatorSize = Scale(kIndicatorSize, dpi);
  indicator_.left = Scale(kIndicatorLeft, dpi);
  indicator_.top = Scale(kIndicatorTop, dpi);
  indicator_.right = indicator_.left + indicatorSize;
  indicator_.bottom = indicator_.top + indicatorSize;

  auto frame = std::make_unique<FrameBuffer>();
  void* bits = nullptr;
  frame->bitmap.reset(CreateTopDownBitmap(indicatorSize, &bits));
  frame->dc.reset(CreateCompatibleDC(nullptr));
  if (frame->bitmap && frame->dc && bits) {
    frame->previous = SelectObject(frame->dc.get(), frame->bitmap.get());
    frame->bits = static_cast<uint32_t*>(bits);
    frame->size = indicatorSize;
    frame_ = std::move(frame);
  } else {
    frame_.reset();
  }
  InvalidateRect(window, nullptr, FALSE);
}

void TEdgeInstallerForm::Paint() {
  HWND window = handle();
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client{};
  GetClientRect(window, &client);
  const int saved = SaveDC(dc);
  if (frame_) ExcludeClipRect(dc, indicator_.left, indicator_.top, indicator_.right, indicator_.bottom);
  SetDCBrushColor(dc, color_);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  RestoreDC(dc, saved);
  if (frame_) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const double seconds =
        static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
    GdiFlush();
    DrawActivityIndicatorFrame({frame_->bits, static_cast<size_t>(frame_->size) * frame_->size}, frame_->size,
                               indicatorType_, indicatorColor_, color_, seconds);
    BitBlt(dc, indicator_.left, indicator_.top, frame_->size, frame_->size, frame_->dc.get(), 0, 0, SRCCOPY);
  }
  EndPaint(window, &paint);
}

}  // namespace vtl::win32
