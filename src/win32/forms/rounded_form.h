#pragma once

// The rounded-corner form base: every window of the runtime asks the desktop
// window manager for rounded corners (Windows 11; earlier systems ignore it).

#include <windows.h>

namespace vtl::win32 {

enum class TRoundedCornerType { rcDefault, rcOff, rcOn, rcSmall };

// Used by every form whose own setting is rcDefault; rcOn at program start.
extern TRoundedCornerType DefaultRoundedCorners;

// The DWMWA_WINDOW_CORNER_PREFERENCE value for a form's own setting: rcOff 1,
// rcOn 2, rcSmall 3; rcDefault takes DefaultRoundedCorners, and rcDefault
// there gives 0 (the system's choice).
int RoundedCornerPreference(TRoundedCornerType own);

// Passes that value to the window manager. Run it once the window exists and
// whenever the form's setting changes; failure leaves the window as it is.
void ApplyRoundedCorners(HWND window, TRoundedCornerType corners = TRoundedCornerType::rcDefault);

}  // namespace vtl::win32
