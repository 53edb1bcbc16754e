#include "win32/forms/password_form.h"

#include <windows.h>
#include <commctrl.h>

#include "win32/bridge/styles.h"
#include "win32/forms/form_support.h"
#include "win32/forms/rounded_form.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

using namespace forms;

constexpr wchar_t kClassName[] = L"TRequirePasswordForm";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;  // dialog frame
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 308, kClientHeight = 71;
constexpr int kEditLeft = 24, kEditTop = 24, kEditWidth = 257, kEditHeight = 21;
constexpr int kKeyImageSize = 16;
constexpr int kPasswordEditId = 100;
constexpr UINT_PTR kSubclassId = 1;

class TRequirePasswordForm final : public forms::DialogForm {
 public:
  TRequirePasswordForm(std::wstring caption, std::wstring password)
      : caption_(std::move(caption)), password_(std::move(password)) {}

  bool ShowModal() {
    static const bool registered = RegisterDialogClass(kClassName, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    if (!registered) return false;
    const RECT area = PrimaryWorkArea();
    UniqueWindow window(CreateWindowExW(kExStyle, kClassName, caption_.c_str(), kStyle, (area.left + area.right) / 2,
                                        (area.top + area.bottom) / 2, 0, 0, nullptr, nullptr,
                                        GetModuleHandleW(nullptr), this));
    if (!window) return false;
    passwordEdit_ = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_CLIPCHILDREN | ES_PASSWORD | ES_AUTOHSCROLL, 0, 0, 0, 0,
        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPasswordEditId)), GetModuleHandleW(nullptr), nullptr);
    if (!passwordEdit_) return false;
    SendMessageW(passwordEdit_, EM_SETPASSWORDCHAR, L'*', 0);
    // The key image sits in the left margin of the box; a static lets clicks
    // through to the box and does nothing itself.
    keyButton_ = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | SS_ICON, 0, 0, 0, 0, passwordEdit_, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    SetWindowSubclass(passwordEdit_, PasswordEditProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    const UINT dpi = WindowDpi(hwnd_);
    PlaceWindow(hwnd_, Layout(dpi), dpi);
    ApplyRoundedCorners(hwnd_);
    ApplyStyleToWindow(hwnd_);
    RunModalLoop(hwnd_, nullptr, done_, passwordEdit_);
    return accepted_;
  }

 private:

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_COMMAND:  // Enter and Escape arrive as IDOK and IDCANCEL; neither closes the prompt
        return 0;
      case WM_CLOSE:
        done_ = true;
        return 0;
      case WM_DESTROY:
        done_ = true;
        break;
      // The colours of the active style, the system's under the system style.
      case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(hwnd_, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, FormBrush(COLOR_3DFACE));
        return 1;
      }
      case WM_CTLCOLOREDIT:
        SetTextColor(reinterpret_cast<HDC>(wParam), FormColor(COLOR_WINDOWTEXT));
        SetBkColor(reinterpret_cast<HDC>(wParam), FormColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(FormBrush(COLOR_WINDOW));
      case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        const POINT origin{suggested->left, suggested->top};
        PlaceWindow(hwnd_, Layout(HIWORD(wParam)), HIWORD(wParam), &origin);
        return 0;
      }
      default:
        break;
    }
    return DefDlgProcW(hwnd_, message, wParam, lParam);
  }

  static LRESULT CALLBACK PasswordEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
    auto* self = reinterpret_cast<TRequirePasswordForm*>(data);
    switch (message) {
      case WM_KEYUP:
      case WM_SYSKEYUP: {
        const LRESULT result = DefSubclassProc(edit, message, wParam, lParam);
        self->PasswordEditKeyUp();
        return result;
      }
      case WM_CHAR:
        if (wParam == VK_RETURN || wParam == VK_ESCAPE || wParam == L'\n') return 0;  // no beep
        break;
      case WM_CTLCOLORSTATIC:  // the key image's background is the box's
        SetBkColor(reinterpret_cast<HDC>(wParam), FormColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(FormBrush(COLOR_WINDOW));
      case WM_NCDESTROY:
        RemoveWindowSubclass(edit, PasswordEditProc, kSubclassId);
        break;
      default:
        break;
    }
    return DefSubclassProc(edit, message, wParam, lParam);
  }

  // Compares the whole text with the password at every key release.
  void PasswordEditKeyUp() {
    const int length = GetWindowTextLengthW(passwordEdit_);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(passwordEdit_, text.data(), length + 1)));
    if (text == password_) {
      accepted_ = true;
      done_ = true;
    }
  }

  // Places the box and its key image for `dpi`; returns the size of the client area.
  SIZE Layout(UINT dpi) {
    UniqueFont font = CreateFormFont(dpi);
    SetWindowPos(passwordEdit_, nullptr, Scale(kEditLeft, dpi), Scale(kEditTop, dpi), Scale(kEditWidth, dpi),
                 Scale(kEditHeight, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(passwordEdit_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    font_ = std::move(font);

    const int imageSize = Scale(kKeyImageSize, dpi);
    UniqueIcon key = LoadPngResourceIcon(imageSize <= 16 ? L"KEY16" : L"KEY32", imageSize);
    int leftMargin = Scale(2, dpi);
    if (key) {
      RECT box{};
      GetClientRect(passwordEdit_, &box);
      const int padding = Scale(2, dpi);
      SendMessageW(keyButton_, STM_SETICON, reinterpret_cast<WPARAM>(key.get()), 0);
      SetWindowPos(keyButton_, nullptr, padding, (box.bottom - imageSize) / 2, imageSize, imageSize,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
      leftMargin = imageSize + 2 * padding;
    } else {
      ShowWindow(keyButton_, SW_HIDE);
    }
    keyImage_ = std::move(key);
    SendMessageW(passwordEdit_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(leftMargin, Scale(2, dpi)));
    return {Scale(kClientWidth, dpi), Scale(kClientHeight, dpi)};
  }

  std::wstring caption_;
  std::wstring password_;  // FPassword
  HWND passwordEdit_ = nullptr;
  HWND keyButton_ = nullptr;
  UniqueFont font_;
  UniqueIcon keyImage_;
  bool accepted_ = false;
  bool done_ = false;
};

}  // namespace

bool RunRequirePasswordForm(const std::string& caption, const std::string& password) {
  TRequirePasswordForm form(Widen(caption), Widen(password));
  return form.ShowModal();
}

}  // namespace vtl::win32
