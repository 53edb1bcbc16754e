// The start-up windows, driven for real: a thread timer plays the user's part
// while a modal window runs its own message loop. They need a display (Xvfb
// under Wine).

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/startup.h"
#include "win32/forms/edge_installer_form.h"
#include "win32/forms/form_support.h"
#include "win32/forms/message_dialog.h"
#include "win32/forms/password_form.h"
#include "win32/forms/rounded_form.h"

namespace vtl::win32 {
namespace {

// Runs one step per tick of a thread timer. The ticks reach the steps only
// through a message loop, here the modal window's own. When the steps are
// used up and the window is still open after a while, it is closed and the
// test fails, so that a window that ignores its input cannot hang the run.
class Steps {
 public:
  explicit Steps(std::vector<std::function<void()>> steps) : steps_(std::move(steps)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 40, Tick);
  }
  ~Steps() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  Steps(const Steps&) = delete;
  Steps& operator=(const Steps&) = delete;

  // Every step ran.
  bool Done() const { return next_ == steps_.size(); }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Steps* self = current_;
    if (!self) return;
    if (self->next_ < self->steps_.size()) {
      self->steps_[self->next_++]();
    } else if (++self->idleTicks_ == 75) {
      ADD_FAILURE() << "the window did not close after the last step";
      EnumThreadWindows(
          GetCurrentThreadId(),
          [](HWND window, LPARAM) -> BOOL {
            if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
            return TRUE;
          },
          0);
    }
  }

  static inline Steps* current_ = nullptr;
  std::vector<std::function<void()>> steps_;
  size_t next_ = 0;
  int idleTicks_ = 0;
  UINT_PTR timer_ = 0;
};

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The visible top-level window of this thread with that caption.
HWND FindThreadWindow(const std::wstring& caption) {
  struct Search {
    const std::wstring* caption;
    HWND found;
  } search{&caption, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (!IsWindowVisible(window) || TextOf(window) != *s->caption) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> ChildrenOfClass(HWND parent, const std::wstring& className) {
  struct Search {
    const std::wstring* className;
    std::vector<HWND> found;
  } search{&className, {}};
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (lstrcmpiW(name, s->className->c_str()) == 0) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<std::wstring> ButtonTexts(HWND dialog) {
  std::vector<std::wstring> texts;
  for (HWND button : ChildrenOfClass(dialog, L"Button")) texts.push_back(TextOf(button));
  return texts;
}

// A key pressed and released the way the keyboard delivers it: posted to the
// focused window, through the modal loop.
void PostKey(HWND window, UINT key) {
  HWND target = GetFocus();
  if (!target || (target != window && !IsChild(window, target))) target = window;
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(target, WM_KEYDOWN, key, scan | 1);
  PostMessageW(target, WM_KEYUP, key, scan | 1 | 0xC0000000);
}

// Runs this thread's messages for a while (for windows that are not modal).
void PumpMessages(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  MSG message;
  while (GetTickCount64() < end) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(5);
  }
}

// ---------------------------------------------------------------------------
// The rounded-corner form base

TEST(RoundedCorners, PreferenceFollowsTheFormThenTheDefault) {
  using enum TRoundedCornerType;
  EXPECT_EQ(DefaultRoundedCorners, rcOn);
  struct Case {
    TRoundedCornerType own, byDefault;
    int expected;
  };
  const Case cases[] = {
      {rcOff, rcOn, 1},      {rcOn, rcOff, 2},        {rcSmall, rcOn, 3},       {rcDefault, rcOn, 2},
      {rcDefault, rcOff, 1}, {rcDefault, rcSmall, 3}, {rcDefault, rcDefault, 0},
  };
  const TRoundedCornerType saved = DefaultRoundedCorners;
  for (const Case& c : cases) {
    DefaultRoundedCorners = c.byDefault;
    EXPECT_EQ(RoundedCornerPreference(c.own), c.expected)
        << "own " << static_cast<int>(c.own) << ", default " << static_cast<int>(c.byDefault);
  }
  DefaultRoundedCorners = saved;
}

// ---------------------------------------------------------------------------
// LocalizedMessageDlg

constexpr DialogButton kErrorButtons[] = {DialogButton::Yes};
constexpr std::string_view kErrorCaptions[] = {"Akzeptieren"};
constexpr std::string_view kGermanNotAnApplication = "Dies ist keine g\xC3\xBCltige Windows-Anwendung.";
constexpr DialogButton kQuestionButtons[] = {DialogButton::Yes, DialogButton::Cancel};
constexpr std::string_view kQuestionCaptions[] = {"Accept", "Cancel"};

int ShowQuestion() {
  return LocalizedMessageDlg("Do you want to install it now?", DialogKind::Confirmation, kQuestionButtons,
                             kQuestionCaptions, "Confirm");
}

TEST(LocalizedMessageDlg, ErrorFormShowsItsTextsAndIgnoresEscape) {
  bool openAfterEscape = false;
  Steps steps({
      [] {
        HWND dialog = FindThreadWindow(L"Error");
        ASSERT_TRUE(dialog);
        EXPECT_EQ(ButtonTexts(dialog), std::vector<std::wstring>{L"Akzeptieren"});
        const auto texts = ChildrenOfClass(dialog, L"Static");
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(TextOf(texts[0]), L"Dies ist keine g\u00FCltige Windows-Anwendung.");
        // Centred on the primary work area.
        RECT window{};
        GetWindowRect(dialog, &window);
        const RECT area = forms::PrimaryWorkArea();
        EXPECT_NEAR((window.left + window.right) / 2, (area.left + area.right) / 2, 2);
        EXPECT_NEAR((window.top + window.bottom) / 2, (area.top + area.bottom) / 2, 2);
        PostKey(dialog, VK_ESCAPE);
      },
      [&] {
        HWND dialog = FindThreadWindow(L"Error");
        openAfterEscape = dialog != nullptr;
        if (dialog) PostKey(dialog, VK_RETURN);
      },
  });
  EXPECT_EQ(LocalizedMessageDlg(kGermanNotAnApplication, DialogKind::Error, kErrorButtons, kErrorCaptions, "Error"),
            mrYes);
  EXPECT_TRUE(steps.Done());
  EXPECT_TRUE(openAfterEscape);
}

TEST(LocalizedMessageDlg, QuestionFormAnswersEachWayOut) {
  struct Case {
    const char* name;
    void (*act)(HWND dialog);
    int expected;
  };
  const Case cases[] = {
      {"Enter", [](HWND d) { PostKey(d, VK_RETURN); }, mrYes},
      {"Escape", [](HWND d) { PostKey(d, VK_ESCAPE); }, mrCancel},
      {"WM_CLOSE", [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }, mrCancel},
      {"SC_CLOSE", [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, mrCancel},
      {"Cancel clicked", [](HWND d) { PostMessageW(ChildrenOfClass(d, L"Button").at(1), BM_CLICK, 0, 0); }, mrCancel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::wstring> buttons;
    Steps steps({[&] {
      HWND dialog = FindThreadWindow(L"Confirm");
      ASSERT_TRUE(dialog);
      buttons = ButtonTexts(dialog);
      c.act(dialog);
    }});
    EXPECT_EQ(ShowQuestion(), c.expected);
    EXPECT_TRUE(steps.Done());
    EXPECT_EQ(buttons, (std::vector<std::wstring>{L"Accept", L"Cancel"}));
  }
}

TEST(LocalizedMessageDlg, ButtonsTakeTheStandardOrderAndCaptionsInThatOrder) {
  const DialogButton given[] = {DialogButton::Cancel, DialogButton::No, DialogButton::Yes};
  const std::string_view captions[] = {"Ja"};
  std::vector<std::wstring> buttons;
  Steps steps({[&] {
    HWND dialog = FindThreadWindow(L"Order");
    ASSERT_TRUE(dialog);
    buttons = ButtonTexts(dialog);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  }});
  EXPECT_EQ(LocalizedMessageDlg("Text", DialogKind::Custom, given, captions, "Order"), mrCancel);
  EXPECT_EQ(buttons, (std::vector<std::wstring>{L"Ja", L"&No", L"Cancel"}));
}

TEST(LocalizedMessageDlg, EnterPressesTheDefaultButton) {
  using enum DialogButton;
  struct Case {
    std::vector<DialogButton> buttons;
    int expected;
  };
  const Case cases[] = {
      {{OK, Cancel}, mrOk},
      {{Yes, No, OK}, mrOk},
      {{No, Yes}, mrYes},
      {{Abort, Retry, Ignore}, mrRetry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "expected " << c.expected);
    Steps steps({[] {
      HWND dialog = FindThreadWindow(L"Default");
      ASSERT_TRUE(dialog);
      PostKey(dialog, VK_RETURN);
    }});
    EXPECT_EQ(LocalizedMessageDlg("Which one?", DialogKind::Warning, c.buttons, {}, "Default"), c.expected);
  }
}

TEST(LocalizedMessageDlg, ActiveWindowOwnsItAndIsEnabledAgainAfterwards) {
  forms::UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                                            nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(owner);
  SetForegroundWindow(owner.get());
  SetActiveWindow(owner.get());
  ASSERT_EQ(GetActiveWindow(), owner.get());
  HWND dialogOwner = nullptr;
  bool ownerEnabled = true;
  Steps steps({[&] {
    HWND dialog = FindThreadWindow(L"Owned");
    ASSERT_TRUE(dialog);
    dialogOwner = GetWindow(dialog, GW_OWNER);
    ownerEnabled = IsWindowEnabled(owner.get());
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  }});
  EXPECT_EQ(LocalizedMessageDlg("Text", DialogKind::Information, kErrorButtons, {}, "Owned"), mrCancel);
  EXPECT_EQ(dialogOwner, owner.get());
  EXPECT_FALSE(ownerEnabled);
  EXPECT_TRUE(IsWindowEnabled(owner.get()));
}

TEST(LocalizedMessageDlg, LongTextWrapsWithinTheScreen) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "This application cannot continue. ";
  RECT window{}, textRect{};
  Steps steps({[&] {
    HWND dialog = FindThreadWindow(L"Long");
    ASSERT_TRUE(dialog);
    GetWindowRect(dialog, &window);
    GetClientRect(ChildrenOfClass(dialog, L"Static").at(0), &textRect);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  }});
  LocalizedMessageDlg(text, DialogKind::Information, kErrorButtons, kErrorCaptions, "Long");
  const RECT area = forms::PrimaryWorkArea();
  EXPECT_LE(window.right - window.left, (area.right - area.left) * 2 / 3);
  EXPECT_GT(textRect.bottom, 3 * 10);  // several lines
  EXPECT_LE(window.bottom - window.top, area.bottom - area.top);
}

// ---------------------------------------------------------------------------
// TRequirePasswordForm

constexpr char kPassword[] = "OpenSesame";

HWND PasswordEdit(HWND form) {
  const auto edits = ChildrenOfClass(form, L"Edit");
  return edits.empty() ? nullptr : edits[0];
}

void PostKeyRelease(HWND edit, UINT key) {
  PostMessageW(edit, WM_KEYUP, key, static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16 | 0xC0000001);
}

// A typed character: the edit gets the character, then the key's release.
void PostTyped(HWND edit, wchar_t c) {
  PostMessageW(edit, WM_CHAR, c, 1);
  PostKeyRelease(edit, static_cast<UINT>(VkKeyScanW(c) & 0xFF));
}

TEST(RequirePasswordForm, ClosesAtTheReleaseOfTheLastKeyOfTheExactText) {
  const std::wstring typed = L"OpenSesame";
  std::vector<std::function<void()>> script;
  script.push_back([] {
    HWND form = FindThreadWindow(L"Hello App");
    ASSERT_TRUE(form);
    HWND edit = PasswordEdit(form);
    ASSERT_TRUE(edit);
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_EQ(SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0), L'*');
    EXPECT_EQ(ButtonTexts(form).size(), 0u);  // no OK or Cancel button
  });
  for (size_t i = 0; i + 1 < typed.size(); ++i) {
    script.push_back([c = typed[i]] {
      HWND form = FindThreadWindow(L"Hello App");
      ASSERT_TRUE(form) << "closed before the last key";
      PostTyped(PasswordEdit(form), c);
    });
  }
  script.push_back([&] {
    HWND edit = PasswordEdit(FindThreadWindow(L"Hello App"));
    ASSERT_TRUE(edit);
    PostMessageW(edit, WM_CHAR, typed.back(), 1);  // the whole text, key not yet released
  });
  script.push_back([&] {
    HWND form = FindThreadWindow(L"Hello App");
    ASSERT_TRUE(form) << "closed before the key release";
    EXPECT_EQ(TextOf(PasswordEdit(form)), typed);
    PostKeyRelease(PasswordEdit(form), 'E');
  });
  Steps steps(std::move(script));
  EXPECT_TRUE(RunRequirePasswordForm("Hello App", kPassword));
  EXPECT_TRUE(steps.Done());
}

TEST(RequirePasswordForm, WrongTextEnterAndEscapeKeepItOpen) {
  struct Case {
    const wchar_t* text;
    UINT key;
    bool pressed;  // the key goes down too, not only up
  };
  const Case cases[] = {
      {L"opensesame", 'E', false},       // other letter case
      {L"OpenSesame ", VK_SPACE, false},  // a blank after it
      {L" OpenSesame", VK_SPACE, false},
      {L"OpenSesam", VK_RETURN, true},
      {L"", VK_ESCAPE, true},
  };
  std::vector<std::function<void()>> script;
  int stillOpen = 0;
  for (const Case& c : cases) {
    script.push_back([c] {
      HWND form = FindThreadWindow(L"Locked");
      ASSERT_TRUE(form);
      SetWindowTextW(PasswordEdit(form), c.text);
      if (c.pressed) {
        PostKey(form, c.key);
      } else {
        PostKeyRelease(PasswordEdit(form), c.key);
      }
    });
    script.push_back([&, c] {
      HWND form = FindThreadWindow(L"Locked");
      if (form) ++stillOpen;
      EXPECT_TRUE(form) << "closed after \"" << testing::PrintToString(std::wstring(c.text)) << "\"";
    });
  }
  script.push_back([] {
    // Text pasted in without a key goes unchecked until the next release.
    HWND form = FindThreadWindow(L"Locked");
    ASSERT_TRUE(form);
    SetWindowTextW(PasswordEdit(form), L"OpenSesame");
  });
  script.push_back([&] {
    HWND form = FindThreadWindow(L"Locked");
    if (form) ++stillOpen;
    if (form) PostMessageW(form, WM_CLOSE, 0, 0);
  });
  Steps steps(std::move(script));
  EXPECT_FALSE(RunRequirePasswordForm("Locked", kPassword));
  EXPECT_TRUE(steps.Done());
  EXPECT_EQ(stillOpen, static_cast<int>(std::size(cases)) + 1);
}

TEST(RequirePasswordForm, ClosingGivesFalse) {
  struct Case {
    const char* name;
    UINT message;
    WPARAM wParam;
  };
  const Case cases[] = {{"WM_CLOSE", WM_CLOSE, 0}, {"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Steps steps({[&] {
      HWND form = FindThreadWindow(L"Locked");
      ASSERT_TRUE(form);
      PostMessageW(form, c.message, c.wParam, 0);
    }});
    EXPECT_FALSE(RunRequirePasswordForm("Locked", kPassword));
    EXPECT_TRUE(steps.Done());
  }
}

TEST(RequirePasswordForm, LaysItselfOutAgainForANewDpi) {
  RECT client{}, edit{};
  Steps steps({[&] {
    HWND form = FindThreadWindow(L"Locked");
    ASSERT_TRUE(form);
    RECT suggested{};
    GetWindowRect(form, &suggested);
    SendMessageW(form, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    GetClientRect(form, &client);
    HWND box = PasswordEdit(form);
    GetWindowRect(box, &edit);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&edit), 2);
    PostMessageW(form, WM_CLOSE, 0, 0);
  }});
  RunRequirePasswordForm("Locked", kPassword);
  EXPECT_EQ(client.right, 462);  // 308 x 71 at 96 dpi
  EXPECT_EQ(client.bottom, 107);
  EXPECT_EQ(edit.left, 36);  // left 24, top 24, 257 x 21 at 96 dpi
  EXPECT_EQ(edit.top, 36);
  EXPECT_EQ(edit.right - edit.left, 386);
  EXPECT_EQ(edit.bottom - edit.top, 32);
}

// ---------------------------------------------------------------------------
// TEdgeInstallerForm

TEST(EdgeInstallerForm, IsABorderlessRoundedPopupCentredOnTheScreen) {
  auto form = TEdgeInstallerForm::Create(static_cast<int32_t>(0xFF00001A), 1, 0);
  ASSERT_TRUE(form);
  HWND window = form->handle();
  PumpMessages(50);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(GetActiveWindow(), window);  // it owns what the installer shows
  // The system adds WS_CLIPSIBLINGS to every top-level window.
  EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & ~(WS_VISIBLE | WS_CLIPSIBLINGS), static_cast<LONG>(WS_POPUP));
  EXPECT_TRUE(GetClassLongW(window, GCL_STYLE) & CS_DROPSHADOW);
  EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(window, GCLP_HCURSOR)), LoadCursorW(nullptr, IDC_APPSTARTING));

  const int side = forms::Scale(80, forms::WindowDpi(window));
  RECT client{}, bounds{};
  GetClientRect(window, &client);
  GetWindowRect(window, &bounds);
  EXPECT_EQ(client.right, side);
  EXPECT_EQ(client.bottom, side);
  const RECT area = forms::PrimaryWorkArea();
  EXPECT_NEAR((bounds.left + bounds.right) / 2, (area.left + area.right) / 2, 1);
  EXPECT_NEAR((bounds.top + bounds.bottom) / 2, (area.top + area.bottom) / 2, 1);

  forms::UniqueRegion region(CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(GetWindowRgn(window, region.get()), ERROR);
  EXPECT_FALSE(PtInRegion(region.get(), 0, 0));  // the corners are cut
  EXPECT_FALSE(PtInRegion(region.get(), side - 1, side - 1));
  EXPECT_TRUE(PtInRegion(region.get(), side / 2, 0));
  EXPECT_TRUE(PtInRegion(region.get(), side / 2, side / 2));
}

TEST(EdgeInstallerForm, RefusesToClose) {
  struct Case {
    const char* name;
    void (*attempt)(HWND window);
  };
  const Case cases[] = {
      {"WM_CLOSE", [](HWND w) { SendMessageW(w, WM_CLOSE, 0, 0); }},
      {"SC_CLOSE", [](HWND w) { SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Alt+F4",
       [](HWND w) {
         const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_F4, MAPVK_VK_TO_VSC)) << 16;
         PostMessageW(w, WM_SYSKEYDOWN, VK_F4, scan | 1 | 0x20000000);  // with Alt held
         PostMessageW(w, WM_SYSKEYUP, VK_F4, scan | 1 | 0xE0000000);
       }},
  };
  auto form = TEdgeInstallerForm::Create(static_cast<int32_t>(0xFF00001A), 1, 0);
  ASSERT_TRUE(form);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.attempt(form->handle());
    PumpMessages(100);
    EXPECT_TRUE(IsWindow(form->handle()));
    EXPECT_TRUE(IsWindowVisible(form->handle()));
  }
}

// The window's client area as the screen shows it, 0x00RRGGBB a pixel.
std::vector<uint32_t> Capture(HWND window, int width, int height) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  HDC screen = GetDC(window);
  forms::UniqueDc memory(CreateCompatibleDC(screen));
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  forms::UniqueBitmap bitmap(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
  BitBlt(memory.get(), 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<const uint32_t*>(bits)[i] & 0xFFFFFF;
  SelectObject(memory.get(), previous);
  ReleaseDC(window, screen);
  return pixels;
}

uint32_t AsPixel(COLORREF color) { return GetRValue(color) << 16 | GetGValue(color) << 8 | GetBValue(color); }

TEST(EdgeInstallerForm, PaintsItsColourAndAnimatesTheIndicator) {
  struct Case {
    int32_t color, indicatorColor, indicatorType;
    COLORREF background, indicator;
  };
  const Case cases[] = {
      {static_cast<int32_t>(0xFF00001A), 1, 0, GetSysColor(COLOR_HOTLIGHT), RGB(255, 255, 255)},
      {0x00336699, 0, 1, RGB(0x99, 0x66, 0x33), RGB(0, 0, 0)},
      {static_cast<int32_t>(0xFF00000F), 5, 2, GetSysColor(COLOR_BTNFACE), RGB(255, 255, 255)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "indicator type " << c.indicatorType);
    auto form = TEdgeInstallerForm::Create(c.color, c.indicatorColor, c.indicatorType);
    ASSERT_TRUE(form);
    HWND window = form->handle();
    RECT client{};
    GetClientRect(window, &client);
    PumpMessages(100);
    const auto first = Capture(window, client.right, client.bottom);
    PumpMessages(250);
    const auto second = Capture(window, client.right, client.bottom);

    const int dpi = static_cast<int>(forms::WindowDpi(window));
    const size_t margin = static_cast<size_t>(client.bottom / 2) * client.right + forms::Scale(3, dpi);
    EXPECT_EQ(first[margin], AsPixel(c.background));
    EXPECT_NE(first, second) << "the indicator does not move";
    EXPECT_NE(std::find(first.begin(), first.end(), AsPixel(c.indicator)), first.end())
        << "no pixel in the indicator's colour";
  }
}

}  // namespace
}  // namespace vtl::win32
