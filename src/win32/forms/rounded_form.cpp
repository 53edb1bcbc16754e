#include "win32/forms/rounded_form.h"

#include "win32/forms/form_support.h"

namespace vtl::win32 {

TRoundedCornerType DefaultRoundedCorners = TRoundedCornerType::rcOn;

namespace {

constexpr DWORD kWindowCornerPreference = 33;  // DWMWA_WINDOW_CORNER_PREFERENCE

int PreferenceOf(TRoundedCornerType corners) {
  switch (corners) {
    case TRoundedCornerType::rcOff: return 1;
    case TRoundedCornerType::rcOn: return 2;
    case TRoundedCornerType::rcSmall: return 3;
    case TRoundedCornerType::rcDefault: break;
  }
  return 0;
}

}  // namespace

int RoundedCornerPreference(TRoundedCornerType own) {
  return PreferenceOf(own == TRoundedCornerType::rcDefault ? DefaultRoundedCorners : own);
}

void ApplyRoundedCorners(HWND window, TRoundedCornerType corners) {
  static const auto setAttribute =
      forms::SystemFunction<HRESULT(WINAPI*)(HWND, DWORD, const void*, DWORD)>(L"dwmapi.dll", "DwmSetWindowAttribute");
  if (!window || !setAttribute) return;
  const int value = RoundedCornerPreference(corners);
  setAttribute(window, kWindowCornerPreference, &value, sizeof value);
}

}  // namespace vtl::win32
