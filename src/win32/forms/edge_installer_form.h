#pragma once

// TEdgeInstallerForm: the small busy window shown while the WebView2 runtime
// installer runs.

#include <windows.h>

#include <cstdint>
#include <memory>

#include "win32/forms/activity_indicator.h"
#include "win32/forms/form_support.h"

namespace vtl::win32 {

class TEdgeInstallerForm {
 public:
  // Creates and shows the window (not modal, no owner) centred on the screen:
  // a borderless popup of 80 x 80 pixels at 96 dpi in `color` (0x00BBGGRR, or
  // 0xFF000000 plus a system colour index) with the busy indicator animating
  // in `indicatorColor` (0 black, otherwise white) and the animation
  // `indicatorType` (0 momentum dots, 1 rotating sector, 2 sector ring). The
  // user cannot close it. Null when the window cannot be created.
  static std::unique_ptr<TEdgeInstallerForm> Create(int32_t color, int32_t indicatorColor, int32_t indicatorType);

  HWND handle() const { return window_.get(); }

  ~TEdgeInstallerForm();
  TEdgeInstallerForm(const TEdgeInstallerForm&) = delete;
  TEdgeInstallerForm& operator=(const TEdgeInstallerForm&) = delete;

 private:
  TEdgeInstallerForm(COLORREF color, COLORREF indicatorColor, TActivityIndicatorType indicatorType);
  static bool RegisterWindowClass();
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void ApplyDpi(UINT dpi);
  void Paint();

  // The indicator's frame: a DIB selected into a memory DC.
  struct FrameBuffer {
    forms::UniqueDc dc;
    forms::UniqueBitmap bitmap;
    HGDIOBJ previous = nullptr;
    uint32_t* bits = nullptr;
    int size = 0;
    ~FrameBuffer();
  };

  COLORREF color_;
  COLORREF indicatorColor_;
  TActivityIndicatorType indicatorType_;
  RECT indicator_{};
  LARGE_INTEGER start_{}, frequency_{};
  std::unique_ptr<FrameBuffer> frame_;
  forms::UniqueWindow window_;  // last: destroyed first
};

}  // namespace vtl::win32
