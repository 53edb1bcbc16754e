#pragma once

// What the runtime's own windows share: DPI scaling, system functions looked
// up at run time, owned GDI handles, pictures from PNG resources and the
// modal message loop.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <type_traits>

namespace vtl::win32::forms {

// A function of a system library, or null where the system lacks it. The
// library is loaded from the system folder when it is not loaded yet and
// stays loaded for the life of the process.
FARPROC SystemProcedure(const wchar_t* library, const char* name);
template <typename Function>
Function SystemFunction(const wchar_t* library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(SystemProcedure(library, name)));
}

// Layout is given in pixels at 96 dpi and scaled to the window's dpi.
inline constexpr UINT kDesignDpi = 96;
inline int Scale(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), kDesignDpi); }
UINT SystemDpi();
UINT WindowDpi(HWND window);
int SystemMetricForDpi(int index, UINT dpi);
// Lets the system scale the title bar of a per-monitor (v1) window; call on WM_NCCREATE.
void EnableNonClientScaling(HWND window);

// A form whose window uses the dialog manager's window class: the object
// comes as the creation parameter, stays in the window's user data and
// receives every message in Handle.
class DialogForm {
 public:
  DialogForm(const DialogForm&) = delete;
  DialogForm& operator=(const DialogForm&) = delete;

 protected:
  DialogForm() = default;
  virtual ~DialogForm() = default;
  virtual LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Registers a window class of the dialog manager's kind that routes to
  // WindowProc; true when the class exists afterwards.
  static bool RegisterDialogClass(const wchar_t* className, HBRUSH background);

  HWND hwnd_ = nullptr;
};

// A 32-bit top-down DIB section of size × size pixels; `bits` receives its pixels.
HBITMAP CreateTopDownBitmap(int size, void** bits);

// The work area of the primary monitor: forms shown before the main form
// exists are centred on the screen.
RECT PrimaryWorkArea();
void CenterInWorkArea(HWND window, int width, int height);
// Sizes a window so that its client area is `client` at `dpi`, and centres it
// in the primary work area, or puts its top-left corner at `origin`.
void PlaceWindow(HWND window, SIZE client, UINT dpi, const POINT* origin = nullptr);

// A colour as stored in settings: 0x00BBGGRR, or 0xFF000000 plus the index
// of a system colour.
COLORREF ColorToRGB(int32_t color);

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
struct WindowDeleter {
  void operator()(HWND window) const { DestroyWindow(window); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
using UniqueRegion = std::unique_ptr<std::remove_pointer_t<HRGN>, GdiObjectDeleter>;
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;

// A screen DC for measuring text, with a font selected while it lives.
class MeasuringDc {
 public:
  explicit MeasuringDc(HFONT font);
  ~MeasuringDc();
  MeasuringDc(const MeasuringDc&) = delete;
  MeasuringDc& operator=(const MeasuringDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// Tahoma, height -11 at 96 dpi: the font of the runtime's forms.
UniqueFont CreateFormFont(UINT dpi);
// The system's message font at `dpi`.
UniqueFont CreateMessageFont(UINT dpi);

// The PNG resource `name` (type RCDATA) of the executable as an icon of
// `size` x `size` pixels, scaled smoothly; null when the executable has no
// such resource or it does not decode.
UniqueIcon LoadPngResourceIcon(const wchar_t* name, int size);

// Shows a modal window, gives `focus` (a child, or null) the focus and runs
// the message loop until `done` turns true; the caller destroys the window
// then. The owner (may be null) stays disabled meanwhile. A WM_QUIT ends the loop early
// and is posted again for the loop outside; the result is then false.
// Windows of a class with DLGWINDOWEXTRA get the dialog keyboard interface.
bool RunModalLoop(HWND window, HWND owner, const bool& done, HWND focus);

}  // namespace vtl::win32::forms
