#include "win32/forms/form_support.h"
#include "win32/com_scope.h"

#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace vtl::win32::forms {

using Microsoft::WRL::ComPtr;

FARPROC SystemProcedure(const wchar_t* library, const char* name) {
  HMODULE module = GetModuleHandleW(library);
  if (!module) {
    // Deliberately never freed: callers keep the function pointers in statics.
    module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows 7 without KB2533623 does not know the flag.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryW(library);
  }
  return module ? GetProcAddress(module, name) : nullptr;
}

UINT SystemDpi() {
  static const auto getDpiForSystem = SystemFunction<UINT(WINAPI*)()>(L"user32.dll", "GetDpiForSystem");
  if (getDpiForSystem) return getDpiForSystem();
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

UINT WindowDpi(HWND window) {
  static const auto getDpiForWindow = SystemFunction<UINT(WINAPI*)(HWND)>(L"user32.dll", "GetDpiForWindow");
  if (getDpiForWindow && window) {
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  }
  return SystemDpi();
}

int SystemMetricForDpi(int index, UINT dpi) {
  static const auto getSystemMetricsForDpi =
      SystemFunction<int(WINAPI*)(int, UINT)>(L"user32.dll", "GetSystemMetricsForDpi");
  if (getSystemMetricsForDpi) return getSystemMetricsForDpi(index, dpi);
  return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

void EnableNonClientScaling(HWND window) {
  static const auto enable = SystemFunction<BOOL(WINAPI*)(HWND)>(L"user32.dll", "EnableNonClientDpiScaling");
  if (enable) enable(window);
}

RECT PrimaryWorkArea() {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info)) return info.rcWork;
  RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

void CenterInWorkArea(HWND window, int width, int height) {
  const RECT area = PrimaryWorkArea();
  const int left = area.left + (area.right - area.left - width) / 2;
  const int top = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi) {
  static const auto adjustForDpi =
      SystemFunction<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>(L"user32.dll", "AdjustWindowRectExForDpi");
  RECT rect{0, 0, clientWidth, clientHeight};
  if (!adjustForDpi || !adjustForDpi(&rect, style, FALSE, exStyle, dpi)) {
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return {rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

void PlaceWindow(HWND window, SIZE client, UINT dpi, const POINT* origin) {
  const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  SIZE outer = WindowSizeForClient(client.cx, client.cy, style, exStyle, dpi);
  SetWindowPos(window, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The frame the system drew may differ from the one computed (a window that
  // is not per-monitor aware keeps its frame when its dpi changes): correct
  // by what the client area came out as.
  RECT actual{};
  GetClientRect(window, &actual);
  outer.cx += client.cx - actual.right;
  outer.cy += client.cy - actual.bottom;
  if (origin) {
    SetWindowPos(window, nullptr, origin->x, origin->y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    CenterInWorkArea(window, outer.cx, outer.cy);
  }
}

COLORREF ColorToRGB(int32_t color) {
  if (color < 0) return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color);
}

MeasuringDc::MeasuringDc(HFONT font) : dc_(GetDC(nullptr)), previous_(SelectObject(dc_, font)) {}

MeasuringDc::~MeasuringDc() {
  SelectObject(dc_, previous_);
  ReleaseDC(nullptr, dc_);
}

UniqueFont CreateFormFont(UINT dpi) {
  return UniqueFont(CreateFontW(-Scale(11, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                L"Tahoma"));
}

UniqueFont CreateMessageFont(UINT dpi) {
  static const auto parametersForDpi =
      SystemFunction<BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT)>(L"user32.dll", "SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (parametersForDpi && parametersForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    return UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
  }
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    LONG& height = metrics.lfMessageFont.lfHeight;
    height = MulDiv(height, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
    return UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
  }
  return CreateFormFont(dpi);
}

namespace {

// Resampling weights along one axis: the average over each target pixel's
// area when shrinking, linear interpolation when enlarging.
struct Tap {
  int source;
  float weight;
};
std::vector<std::vector<Tap>> ResampleTaps(int from, int to) {
  std::vector<std::vector<Tap>> taps(static_cast<size_t>(to));
  const double ratio = static_cast<double>(from) / to;
  for (int target = 0; target < to; ++target) {
    auto& list = taps[static_cast<size_t>(target)];
    if (ratio >= 1.0) {
      const double begin = target * ratio, end = (target + 1) * ratio;
      for (int source = static_cast<int>(begin); source < from && source < end; ++source) {
        const double overlap = std::min(end, source + 1.0) - std::max(begin, static_cast<double>(source));
        if (overlap > 0) list.push_back({source, static_cast<float>(overlap / ratio)});
      }
    } else {
      const double position = std::clamp((target + 0.5) * ratio - 0.5, 0.0, from - 1.0);
      const int first = static_cast<int>(position);
      const int second = std::min(first + 1, from - 1);
      const float fraction = static_cast<float>(position - first);
      list.push_back({first, 1.0f - fraction});
      list.push_back({second, fraction});
    }
  }
  return taps;
}

// Scales premultiplied BGRA pixels (4 floats a pixel) from a square of
// `from` to a square of `to`, rows first, then columns.
std::vector<float> ResampleSquare(const std::vector<float>& pixels, int from, int to) {
  const auto taps = ResampleTaps(from, to);
  std::vector<float> rows(static_cast<size_t>(from) * to * 4, 0.0f);
  for (int y = 0; y < from; ++y) {
    for (int x = 0; x < to; ++x) {
      float* out = &rows[(static_cast<size_t>(y) * to + x) * 4];
      for (const Tap& tap : taps[static_cast<size_t>(x)]) {
        const float* in = &pixels[(static_cast<size_t>(y) * from + tap.source) * 4];
        for (int c = 0; c < 4; ++c) out[c] += in[c] * tap.weight;
      }
    }
  }
  std::vector<float> result(static_cast<size_t>(to) * to * 4, 0.0f);
  for (int y = 0; y < to; ++y) {
    for (int x = 0; x < to; ++x) {
      float* out = &result[(static_cast<size_t>(y) * to + x) * 4];
      for (const Tap& tap : taps[static_cast<size_t>(y)]) {
        const float* in = &rows[(static_cast<size_t>(tap.source) * to + x) * 4];
        for (int c = 0; c < 4; ++c) out[c] += in[c] * tap.weight;
      }
    }
  }
  return result;
}

// Decodes a PNG into premultiplied BGRA floats; the picture must be square.
bool DecodeSquarePng(const void* data, DWORD size, std::vector<float>& pixels, int& side) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  UINT width = 0, height = 0;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(data)), size)) ||
      FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&width, &height)) || width != height ||
      width == 0 || width > 1024 || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return false;
  }
  std::vector<BYTE> bytes(static_cast<size_t>(width) * height * 4);
  if (FAILED(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(bytes.size()), bytes.data()))) return false;
  pixels.assign(bytes.begin(), bytes.end());
  side = static_cast<int>(width);
  return true;
}

}  // namespace

UniqueIcon LoadPngResourceIcon(const wchar_t* name, int size) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, name, RT_RCDATA);
  HGLOBAL resource = info ? LoadResource(module, info) : nullptr;
  const void* data = resource ? LockResource(resource) : nullptr;
  if (!data || size <= 0) return {};

  ComScope com;
  std::vector<float> source;
  int side = 0;
  if (!DecodeSquarePng(data, SizeofResource(module, info), source, side)) return {};
  const std::vector<float> scaled = side == size ? source : ResampleSquare(source, side, size);

  void* bits = nullptr;
  UniqueBitmap color(CreateTopDownBitmap(size, &bits));
  if (!color || !bits) return {};
  // Icons take straight (not premultiplied) alpha.
  auto* out = static_cast<BYTE*>(bits);
  for (size_t i = 0; i < scaled.size(); i += 4) {
    const float alpha = std::clamp(scaled[i + 3], 0.0f, 255.0f);
    for (size_t c = 0; c < 3; ++c) {
      const float straight = alpha > 0 ? scaled[i + c] * 255.0f / alpha : 0.0f;
      out[i + c] = static_cast<BYTE>(std::lround(std::clamp(straight, 0.0f, 255.0f)));
    }
    out[i + 3] = static_cast<BYTE>(std::lround(alpha));
  }
  const std::vector<BYTE> maskBits(static_cast<size_t>((size + 15) / 16 * 2) * size, 0);
  UniqueBitmap mask(CreateBitmap(size, size, 1, 1, maskBits.data()));
  if (!mask) return {};
  ICONINFO iconInfo{TRUE, 0, 0, mask.get(), color.get()};
  return UniqueIcon(CreateIconIndirect(&iconInfo));
}

bool RunModalLoop(HWND window, HWND owner, const bool& done, HWND focus) {
  const bool ownerDisabled = owner && !EnableWindow(owner, FALSE);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  if (focus) SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
  bool ended = true;
  MSG message;
  while (!done && IsWindow(window)) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      ended = false;
      break;
    }
    if (!IsDialogMessageW(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // Enabled again before the window goes, so that the owner is activated.
  if (ownerDisabled) EnableWindow(owner, TRUE);
  return ended && done;
}

LRESULT CALLBACK DialogForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<DialogForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->hwnd_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    EnableNonClientScaling(window);
  }
  auto* form = reinterpret_cast<DialogForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  return form ? form->Handle(message, wParam, lParam) : DefDlgProcW(window, message, wParam, lParam);
}

bool DialogForm::RegisterDialogClass(const wchar_t* className, HBRUSH background) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;  // the dialog manager keeps its state there
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = background;
  windowClass.lpszClassName = className;
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HBITMAP CreateTopDownBitmap(int size, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

}  // namespace vtl::win32::forms
