#pragma once

// How the runtime draws its visual styles. No style engine is at hand, so a
// style is a palette: the caption, caption text and frame colours that the
// window manager draws (DWM attributes, with its dark mode for dark styles),
// and the background, text and face colours of our own forms and dialogs.
// The system style "Windows" changes nothing: every colour is the system's.

#include <windows.h>

#include <string_view>

namespace vtl {
class StyleManager;
}

namespace vtl::win32 {

struct StylePalette {
  std::string_view name;
  bool dark;
  COLORREF caption;      // title bar
  COLORREF captionText;  // title text
  COLORREF border;       // window frame
  COLORREF background;   // content of forms and dialogs
  COLORREF text;         // text on the background
  COLORREF face;         // button band and panels
};

// The palette of a carried style by display name (exact); null for "Windows"
// and unknown names.
const StylePalette* FindStylePalette(std::string_view name);

// The style manager whose active style the forms follow; set once by the
// program entry. Without it every form keeps the system colours.
void SetProcessStyleManager(const StyleManager* manager);
const StylePalette* ActiveStylePalette();

// The colour a form paints for a system colour index (COLOR_WINDOW,
// COLOR_WINDOWTEXT, COLOR_3DFACE, COLOR_BTNFACE, COLOR_BTNTEXT) under the
// active style; other indexes and the system style give the system's colour.
COLORREF FormColor(int index);
// A brush of that colour, owned by the palette cache (never deleted by callers).
HBRUSH FormBrush(int index);

// Gives a top-level window the caption and frame of the active style, or the
// system's when the system style is active.
void ApplyStyleToWindow(HWND window);
// ApplyStyleToWindow for every top-level window of this process, then redraws them.
void ApplyStyleToProcessWindows();

}  // namespace vtl::win32
