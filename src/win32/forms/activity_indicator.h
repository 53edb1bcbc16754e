#pragma once

// The busy indicator of the installer window: frames drawn by us, with
// anti-aliased edges, for each of the three animations.

#include <windows.h>

#include <cstdint>
#include <span>

namespace vtl::win32 {

enum class TActivityIndicatorType { MomentumDots = 0, RotatingSector = 1, SectorRing = 2 };

// Draws the frame at `seconds` into `pixels`: `size` rows of `size` pixels,
// top row first, each 0x00RRGGBB as in a 32-bit DIB. The indicator is drawn
// in `foreground` over `background` (both COLORREF), filling the square.
void DrawActivityIndicatorFrame(std::span<uint32_t> pixels, int size, TActivityIndicatorType type,
                                COLORREF foreground, COLORREF background, double seconds);

}  // namespace vtl::win32
