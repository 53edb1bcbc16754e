#include "win32/forms/message_dialog.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "win32/bridge/styles.h"
#include "win32/forms/form_support.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

using namespace forms;

constexpr wchar_t kClassName[] = L"VtlMessageDialog";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// Standard labels, in the order the dialog shows its buttons.
constexpr std::array<std::pair<DialogButton, const wchar_t*>, 12> kStandardButtons{{
    {DialogButton::Yes, L"&Yes"},
    {DialogButton::No, L"&No"},
    {DialogButton::OK, L"OK"},
    {DialogButton::Cancel, L"Cancel"},
    {DialogButton::Abort, L"&Abort"},
    {DialogButton::Retry, L"&Retry"},
    {DialogButton::Ignore, L"&Ignore"},
    {DialogButton::All, L"&All"},
    {DialogButton::NoToAll, L"N&o to All"},
    {DialogButton::YesToAll, L"Yes to &All"},
    {DialogButton::Help, L"&Help"},
    {DialogButton::Close, L"&Close"},
}};

struct Picture {
  const wchar_t* resource;  // null: no picture
  const wchar_t* systemIcon;
};

Picture PictureOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::Error: return {L"MSG_ERROR", IDI_ERROR};
    case DialogKind::Warning: return {L"MSG_WARNING", IDI_WARNING};
    case DialogKind::Information: return {L"MSG_INFO", IDI_INFORMATION};
    case DialogKind::Confirmation: return {L"MSG_INFO", IDI_QUESTION};
    case DialogKind::Custom: break;
  }
  return {nullptr, nullptr};
}

UniqueIcon LoadDialogPicture(DialogKind kind, int size) {
  const Picture picture = PictureOf(kind);
  if (!picture.resource) return {};
  if (UniqueIcon icon = LoadPngResourceIcon(picture.resource, size)) return icon;
  using LoadScaledIcon = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  static const auto loadScaled = SystemFunction<LoadScaledIcon>(L"comctl32.dll", "LoadIconWithScaleDown");
  HICON icon = nullptr;
  if (loadScaled && SUCCEEDED(loadScaled(nullptr, picture.systemIcon, size, size, &icon))) return UniqueIcon(icon);
  return UniqueIcon(CopyIcon(LoadIconW(nullptr, picture.systemIcon)));
}

class MessageDialog final : public forms::DialogForm {
 public:
  struct Button {
    int id;  // the modal result
    std::wstring label;
    HWND window = nullptr;
  };

  MessageDialog(std::wstring text, DialogKind kind, std::vector<Button> buttons, std::wstring caption)
      : text_(std::move(text)), caption_(std::move(caption)), kind_(kind), buttons_(std::move(buttons)) {
    for (int preferred : {int{mrOk}, int{mrYes}, int{mrRetry}}) {
      if (FindButton(preferred)) {
        defaultId_ = preferred;
        break;
      }
    }
  }

  int ShowModal() {
    static const bool registered = RegisterDialogClass(kClassName, nullptr);
    if (!registered) return mrCancel;
    HWND owner = GetActiveWindow();
    const RECT area = PrimaryWorkArea();
    // Created on the primary monitor, so that it takes that monitor's dpi.
    UniqueWindow window(CreateWindowExW(kExStyle, kClassName, caption_.c_str(), kStyle, (area.left + area.right) / 2,
                                        (area.top + area.bottom) / 2, 0, 0, owner, nullptr,
                                        GetModuleHandleW(nullptr), this));
    if (!window) return mrCancel;
    textWindow_ = CreateWindowExW(0, L"STATIC", text_.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0,
                                   0, hwnd_, nullptr, GetModuleHandleW(nullptr), nullptr);
    for (size_t i = 0; i < buttons_.size(); ++i) {
      Button& button = buttons_[i];
      DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (button.id == defaultId_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      if (i == 0) style |= WS_GROUP;
      button.window = CreateWindowExW(0, L"BUTTON", button.label.c_str(), style, 0, 0, 0, 0, hwnd_,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(button.id)),
                                      GetModuleHandleW(nullptr), nullptr);
    }
    const UINT dpi = WindowDpi(hwnd_);
    PlaceWindow(hwnd_, Layout(dpi), dpi);
    ApplyStyleToWindow(hwnd_);
    HWND focus = nullptr;
    if (defaultId_) {
      SendMessageW(hwnd_, DM_SETDEFID, static_cast<WPARAM>(defaultId_), 0);
      focus = FindButton(defaultId_)->window;
    } else if (!buttons_.empty()) {
      focus = buttons_.front().window;
    }
    RunModalLoop(hwnd_, owner, done_, focus);
    return result_;
  }

 private:

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && FindButton(LOWORD(wParam))) Finish(LOWORD(wParam));
        return 0;  // Escape without a Cancel button ends up here and does nothing
      case WM_CLOSE:
        Finish(mrCancel);
        return 0;
      case WM_DESTROY:
        done_ = true;
        break;
      case WM_ERASEBKGND:
        PaintBackground(reinterpret_cast<HDC>(wParam));
        return TRUE;
      case WM_PRINTCLIENT:
        PaintBackground(reinterpret_cast<HDC>(wParam));
        return 0;
      case WM_CTLCOLORSTATIC:
        SetTextColor(reinterpret_cast<HDC>(wParam), FormColor(COLOR_WINDOWTEXT));
        SetBkColor(reinterpret_cast<HDC>(wParam), FormColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(FormBrush(COLOR_WINDOW));
      case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        const POINT origin{suggested->left, suggested->top};
        PlaceWindow(hwnd_, Layout(HIWORD(wParam)), HIWORD(wParam), &origin);
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
        return 0;
      }
      default:
        break;
    }
    return DefDlgProcW(hwnd_, message, wParam, lParam);
  }

  const Button* FindButton(int id) const {
    for (const Button& button : buttons_) {
      if (button.id == id) return &button;
    }
    return nullptr;
  }

  void Finish(int result) {
    result_ = result;
    done_ = true;
  }

  // Places every part for `dpi` and returns the size of the client area. The
  // text wraps at about 60% of the work area, like a system message box.
  SIZE Layout(UINT dpi) {
    UniqueFont font = CreateMessageFont(dpi);
    MeasuringDc dc(font.get());
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc.get(), &metrics);
    SIZE alphabet{};
    GetTextExtentPoint32W(dc.get(), L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &alphabet);
    const int unitX = std::max(1L, (alphabet.cx / 26 + 1) / 2);  // dialog base units of the font
    const int unitY = std::max(1L, metrics.tmHeight);
    const auto dluX = [&](int units) { return MulDiv(units, unitX, 4); };
    const auto dluY = [&](int units) { return MulDiv(units, unitY, 8); };

    const int marginX = dluX(10), marginY = dluY(10);
    const int pictureSize = PictureOf(kind_).resource ? SystemMetricForDpi(SM_CXICON, dpi) : 0;
    const int pictureGap = pictureSize ? dluX(7) : 0;
    icon_ = LoadDialogPicture(kind_, pictureSize);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const int workWidth = monitor.rcWork.right - monitor.rcWork.left;
    const int textLimit = std::max(dluX(120), workWidth * 3 / 5 - 2 * marginX - pictureSize - pictureGap);
    RECT textRect{0, 0, textLimit, 0};
    DrawTextW(dc.get(), text_.c_str(), static_cast<int>(text_.size()), &textRect,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    // Some slack: drawn text may take up to about 1% more than measured (seen
    // under Wine), and slack after a left-aligned text does not show.
    const int textWidth = textRect.right + textRect.right / 50 + dluX(2);
    const int textHeight = std::max<int>(textRect.bottom, metrics.tmHeight);

    int buttonWidth = dluX(50);
    for (const Button& button : buttons_) {
      std::wstring shown;
      for (wchar_t c : button.label) {
        if (c != L'&') shown += c;
      }
      SIZE extent{};
      GetTextExtentPoint32W(dc.get(), shown.c_str(), static_cast<int>(shown.size()), &extent);
      buttonWidth = std::max<int>(buttonWidth, extent.cx + dluX(12));
    }
    const int buttonHeight = dluY(14), buttonGap = dluX(4);
    const int bandPaddingX = dluX(7), bandPaddingY = dluY(7);
    const int count = static_cast<int>(buttons_.size());
    const int rowWidth = count * buttonWidth + std::max(0, count - 1) * buttonGap;

    const int contentHeight = std::max(pictureSize, textHeight);
    const int clientWidth = std::max(2 * marginX + pictureSize + pictureGap + textWidth, 2 * bandPaddingX + rowWidth);
    bandTop_ = marginY + contentHeight + marginY;
    const int clientHeight = bandTop_ + (count ? buttonHeight + 2 * bandPaddingY : 0);

    pictureRect_ = {marginX, marginY, marginX + pictureSize, marginY + pictureSize};
    const int textTop = marginY + (contentHeight - textHeight) / 2;
    SetWindowPos(textWindow_, nullptr, marginX + pictureSize + pictureGap, textTop, textWidth, textHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    int x = clientWidth - bandPaddingX - rowWidth;
    for (const Button& button : buttons_) {
      SetWindowPos(button.window, nullptr, x, bandTop_ + bandPaddingY, buttonWidth, buttonHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      x += buttonWidth + buttonGap;
    }
    SendMessageW(textWindow_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    for (const Button& button : buttons_) {
      SendMessageW(button.window, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    }
    font_ = std::move(font);
    return {clientWidth, clientHeight};
  }

  // The text area in the window colour, the button band in the face colour.
  void PaintBackground(HDC dc) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    RECT content = client, band = client;
    content.bottom = band.top = std::min<LONG>(bandTop_, client.bottom);
    // The active visual style's colours, or the system's.
    FillRect(dc, &content, FormBrush(COLOR_WINDOW));
    FillRect(dc, &band, FormBrush(COLOR_3DFACE));
    if (icon_) {
      DrawIconEx(dc, pictureRect_.left, pictureRect_.top, icon_.get(), pictureRect_.right - pictureRect_.left,
                 pictureRect_.bottom - pictureRect_.top, 0, nullptr, DI_NORMAL);
    }
  }

  std::wstring text_, caption_;
  DialogKind kind_;
  std::vector<Button> buttons_;
  int defaultId_ = 0;
  HWND textWindow_ = nullptr;
  UniqueFont font_;
  UniqueIcon icon_;
  RECT pictureRect_{};
  int bandTop_ = 0;
  int result_ = mrCancel;
  bool done_ = false;
};

}  // namespace

int LocalizedMessageDlg(std::string_view Msg, DialogKind DlgType, std::span<const DialogButton> Buttons,
                        std::span<const std::string_view> ButtonCaptions, std::string_view Caption) {
  std::vector<MessageDialog::Button> buttons;
  for (const auto& [button, label] : kStandardButtons) {
    if (std::find(Buttons.begin(), Buttons.end(), button) == Buttons.end()) continue;
    const size_t index = buttons.size();
    buttons.push_back({ModalResultOf(button), index < ButtonCaptions.size() ? Widen(ButtonCaptions[index]) : label});
  }
  MessageDialog dialog(Widen(Msg), DlgType, std::move(buttons), Widen(Caption));
  return dialog.ShowModal();
}

}  // namespace vtl::win32
