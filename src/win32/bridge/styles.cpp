#include "win32/bridge/styles.h"

#include <array>
#include <map>
#include <memory>
#include <type_traits>

#include "core/themes.h"
#include "win32/forms/form_support.h"

namespace vtl::win32 {
namespace {

constexpr COLORREF Hex(unsigned rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// Our own palettes, one per carried style, in catalogue order:
// dark, caption, caption text, frame, background, text, face.
#define VTL_STYLE(name, dark, cap, capText, frame, bg, text, face) \
  StylePalette{name, dark, Hex(cap), Hex(capText), Hex(frame), Hex(bg), Hex(text), Hex(face)}
constexpr std::array kPalettes = {
    VTL_STYLE("Amakrits", true, 0x2B2B2B, 0xE8E8E8, 0x1E1E1E, 0x383838, 0xE6E6E6, 0x454545),
    VTL_STYLE("Amethyst Kamri", false, 0x7A5C9E, 0xFFFFFF, 0x5E4580, 0xF3EFF8, 0x2A1F36, 0xE2D9EE),
    VTL_STYLE("Aqua Graphite", true, 0x3A4047, 0xD8F3FF, 0x2A2F35, 0x41474E, 0xE9EEF2, 0x4C535B),
    VTL_STYLE("Aqua Light Slate", false, 0x6E8796, 0xFFFFFF, 0x566B78, 0xEEF3F6, 0x1F2A31, 0xDCE5EA),
    VTL_STYLE("Auric", true, 0x3C3424, 0xF3D27A, 0x2A2418, 0x453C2B, 0xF0E6CF, 0x514633),
    VTL_STYLE("Carbon", true, 0x262626, 0xF0F0F0, 0x1A1A1A, 0x303030, 0xEDEDED, 0x3B3B3B),
    VTL_STYLE("Charcoal Dark Slate", true, 0x2F343A, 0xE4E8EC, 0x23272B, 0x383E45, 0xE7EAEE, 0x434A52),
    VTL_STYLE("Cobalt XEMedia", true, 0x1C2E4A, 0xCFE3FF, 0x14223A, 0x233859, 0xE3ECF8, 0x2C4469),
    VTL_STYLE("Cyan Dusk", true, 0x26424A, 0xC8F2FA, 0x1B3036, 0x2E4D56, 0xE2F4F8, 0x385B65),
    VTL_STYLE("Cyan Night", true, 0x142A30, 0x8EE6F5, 0x0D1D21, 0x1B343B, 0xD8F2F7, 0x234049),
    VTL_STYLE("Emerald Light Slate", false, 0x4F8A72, 0xFFFFFF, 0x3C6B58, 0xEEF5F2, 0x1C2C25, 0xD9E9E2),
    VTL_STYLE("Glossy", true, 0x2A2D33, 0xFFFFFF, 0x1C1E22, 0x33363D, 0xF2F2F2, 0x3E424A),
    VTL_STYLE("Glow", true, 0x1F2126, 0x7FD4FF, 0x16181C, 0x282B31, 0xE5E9EF, 0x33373E),
    VTL_STYLE("Golden Graphite", true, 0x363431, 0xF2C14E, 0x262523, 0x403E3A, 0xEEE8DC, 0x4B4944),
    VTL_STYLE("Iceberg Classico", false, 0xA9C6DA, 0x10212E, 0x86A7BE, 0xF4F8FB, 0x10212E, 0xE1ECF3),
    VTL_STYLE("Lavender Classico", false, 0xB6A6D4, 0x221A33, 0x9787B8, 0xF6F3FB, 0x221A33, 0xE7E0F2),
    VTL_STYLE("Light", false, 0xF7F7F7, 0x1A1A1A, 0xCFCFCF, 0xFFFFFF, 0x1A1A1A, 0xEFEFEF),
    VTL_STYLE("Luna", false, 0x2458D3, 0xFFFFFF, 0x0A3DB8, 0xF6F5EE, 0x000000, 0xECE9D8),
    VTL_STYLE("Metropolis UI Black", true, 0x000000, 0xFFFFFF, 0x000000, 0x111111, 0xF5F5F5, 0x1E1E1E),
    VTL_STYLE("Metropolis UI Blue", false, 0x1B6AC9, 0xFFFFFF, 0x1559A9, 0xFFFFFF, 0x111111, 0xE8F0FA),
    VTL_STYLE("Metropolis UI Dark", true, 0x1D1D1D, 0xFFFFFF, 0x111111, 0x252526, 0xF1F1F1, 0x2D2D30),
    VTL_STYLE("Metropolis UI Green", false, 0x2E8B3E, 0xFFFFFF, 0x247233, 0xFFFFFF, 0x111111, 0xE7F3E9),
    VTL_STYLE("Obsidian", true, 0x1B1F24, 0xCCD6E0, 0x121519, 0x23282E, 0xDCE3EA, 0x2D333A),
    VTL_STYLE("Onyx Blue", true, 0x1E2733, 0x9CC8FF, 0x151C25, 0x26313F, 0xE0E8F2, 0x303D4D),
    VTL_STYLE("Ruby Graphite", true, 0x3A2A2D, 0xFF8A9A, 0x2A1E20, 0x433336, 0xF0E4E6, 0x4F3D41),
    VTL_STYLE("Sapphire Kamri", false, 0x2F5F9E, 0xFFFFFF, 0x234A7D, 0xEFF4FA, 0x14243A, 0xD9E5F3),
    VTL_STYLE("Silver", false, 0xC9CDD2, 0x202428, 0xA8ADB3, 0xF4F5F6, 0x202428, 0xE4E6E9),
    VTL_STYLE("Sky", false, 0x79B8E8, 0x0E2A40, 0x5A9FD4, 0xF2F8FD, 0x0E2A40, 0xDDEDF9),
    VTL_STYLE("Slate Classico", false, 0x7D8A96, 0xFFFFFF, 0x646F7A, 0xF1F3F5, 0x1E252B, 0xDEE2E6),
    VTL_STYLE("Smokey Quartz Kamri", true, 0x4A4044, 0xF2E6EA, 0x372F32, 0x544A4E, 0xF1EAEC, 0x61565A),
    VTL_STYLE("Tablet Dark", true, 0x202020, 0xFFFFFF, 0x151515, 0x2B2B2B, 0xF2F2F2, 0x363636),
    VTL_STYLE("Tablet Light", false, 0xFAFAFA, 0x111111, 0xD6D6D6, 0xFFFFFF, 0x111111, 0xF0F0F0),
    VTL_STYLE("Turquoise Gray", false, 0x4E9A98, 0xFFFFFF, 0x3D7C7A, 0xF0F5F5, 0x1C2B2B, 0xDCE8E8),
    VTL_STYLE("Windows10", false, 0xFFFFFF, 0x000000, 0x0078D7, 0xFFFFFF, 0x000000, 0xF0F0F0),
    VTL_STYLE("Windows10 Blue", false, 0x0063B1, 0xFFFFFF, 0x004E8C, 0xF3F8FC, 0x0A1A29, 0xDCEAF6),
    VTL_STYLE("Windows10 Dark", true, 0x1F1F1F, 0xFFFFFF, 0x2B2B2B, 0x2B2B2B, 0xFFFFFF, 0x333333),
    VTL_STYLE("Windows10 Green", false, 0x107C10, 0xFFFFFF, 0x0B5F0B, 0xF3FAF3, 0x0B240B, 0xDDEFDD),
    VTL_STYLE("Windows10 Purple", false, 0x5C2D91, 0xFFFFFF, 0x47226F, 0xF6F2FA, 0x1F1030, 0xE6DDF0),
    VTL_STYLE("Windows10 SlateGray", false, 0x515C6B, 0xFFFFFF, 0x3F4854, 0xF2F3F5, 0x1B1F25, 0xDFE2E6),
};
#undef VTL_STYLE

const StyleManager* g_manager = nullptr;

// DWM attributes, looked up at run time: older systems and Wine may lack them.
constexpr DWORD kUseImmersiveDarkMode = 20;
constexpr DWORD kBorderColor = 34;
constexpr DWORD kCaptionColor = 35;
constexpr DWORD kTextColor = 36;
constexpr COLORREF kDwmDefaultColor = 0xFFFFFFFF;

using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, const void*, DWORD);

BOOL CALLBACK ApplyToOwnWindow(HWND window, LPARAM) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId()) {
    ApplyStyleToWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  }
  return TRUE;
}

}  // namespace

const StylePalette* FindStylePalette(std::string_view name) {
  for (const StylePalette& palette : kPalettes)
    if (palette.name == name) return &palette;
  return nullptr;
}

void SetProcessStyleManager(const StyleManager* manager) { g_manager = manager; }

const StylePalette* ActiveStylePalette() {
  return g_manager != nullptr ? FindStylePalette(g_manager->ActiveStyle()) : nullptr;
}

COLORREF FormColor(int index) {
  const StylePalette* palette = ActiveStylePalette();
  if (palette != nullptr) {
    switch (index) {
      case COLOR_WINDOW: return palette->background;
      case COLOR_WINDOWTEXT:
      case COLOR_BTNTEXT: return palette->text;
      case COLOR_3DFACE: return palette->face;  // COLOR_BTNFACE too
      default: break;
    }
  }
  return GetSysColor(index);
}

HBRUSH FormBrush(int index) {
  const StylePalette* palette = ActiveStylePalette();
  if (palette == nullptr) return GetSysColorBrush(index);
  // One brush per colour for the life of the process: 40 styles, three colours each at most.
  static std::map<COLORREF, std::unique_ptr<std::remove_pointer_t<HBRUSH>, forms::GdiObjectDeleter>> brushes;
  const COLORREF color = FormColor(index);
  auto& brush = brushes[color];
  if (!brush) brush.reset(CreateSolidBrush(color));
  return brush.get();
}

void ApplyStyleToWindow(HWND window) {
  static const auto setAttribute = forms::SystemFunction<SetAttribute>(L"dwmapi.dll", "DwmSetWindowAttribute");
  if (window == nullptr || setAttribute == nullptr) return;
  const StylePalette* palette = ActiveStylePalette();
  const BOOL dark = palette != nullptr && palette->dark;
  setAttribute(window, kUseImmersiveDarkMode, &dark, sizeof dark);
  const COLORREF caption = palette ? palette->caption : kDwmDefaultColor;
  const COLORREF text = palette ? palette->captionText : kDwmDefaultColor;
  const COLORREF border = palette ? palette->border : kDwmDefaultColor;
  setAttribute(window, kCaptionColor, &caption, sizeof caption);
  setAttribute(window, kTextColor, &text, sizeof text);
  setAttribute(window, kBorderColor, &border, sizeof border);
}

void ApplyStyleToProcessWindows() { EnumWindows(ApplyToOwnWindow, 0); }

}  // namespace vtl::win32
