#pragma once

// Drives the windows of another process through plain Win32 messages, the way
// a user would: find a window, read its texts, type, press a button or a key,
// close it. Texts are UTF-8. Everything works on windows of any process of the
// session, including the caller's own (on another thread).

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtl::uidriver {

using Milliseconds = std::chrono::milliseconds;

// How long a reading message may wait for a busy window.
inline constexpr Milliseconds kMessageTimeout{5000};

struct WindowInfo {
  HWND handle = nullptr;
  DWORD processId = 0;
  DWORD threadId = 0;
  std::string className;
  std::string text;  // the caption of a window, the text of a control
  bool visible = false;
  bool enabled = false;
  LONG_PTR style = 0;
  LONG_PTR exStyle = 0;
  int controlId = 0;
  RECT rect{};    // screen coordinates
  int depth = 0;  // nesting below the window a listing started from; 0 for top-level windows
};

// The text through WM_GETTEXT, which also reads controls of other processes;
// empty when the window does not answer in time.
std::string WindowText(HWND window);
WindowInfo Describe(HWND window, int depth = 0);

// Top-level windows from top to bottom, of one process or (0) of all.
std::vector<WindowInfo> TopLevelWindows(DWORD processId = 0);

// The controls inside `window`, depth first in z-order, which in a dialog is
// the tab order.
std::vector<WindowInfo> ChildControls(HWND window);

struct WindowQuery {
  DWORD processId = 0;                   // 0: any process
  std::optional<std::string> caption;    // exact
  std::optional<std::string> className;  // exact, ignoring ASCII letter case
  bool visibleOnly = true;

  WindowQuery& OfProcess(DWORD id) {
    processId = id;
    return *this;
  }
  WindowQuery& WithCaption(std::string text) {
    caption = std::move(text);
    return *this;
  }
  WindowQuery& WithClass(std::string name) {
    className = std::move(name);
    return *this;
  }
  WindowQuery& IncludingHidden() {
    visibleOnly = false;
    return *this;
  }
};
bool Matches(const WindowInfo& window, const WindowQuery& query);
std::vector<WindowInfo> FindTopLevelWindows(const WindowQuery& query);
// Polls until a top-level window matches; the first match, top-most first.
std::optional<WindowInfo> WaitForWindow(const WindowQuery& query, Milliseconds timeout);
// Polls until the window no longer exists.
bool WaitUntilGone(HWND window, Milliseconds timeout);

// The label a user reads: "&" marks removed, "&&" read as "&".
std::string ButtonLabel(std::string_view text);
// Labels of the push buttons inside `window`, in tab order.
std::vector<std::string> ButtonLabels(HWND window);
std::optional<WindowInfo> FindButton(HWND window, std::string_view label);
// The first control whose class is `className` (ignoring ASCII letter case).
std::optional<WindowInfo> FindControl(HWND window, std::string_view className);
// The texts of every control inside `window`, in tab order, empty ones left out.
std::vector<std::string> ControlTexts(HWND window);

// Clicks the button labelled `label` (BM_CLICK). The message is posted: the
// click may open a modal dialog, which would keep a sent message from ever
// returning. False when `window` holds no such button.
bool PressButton(HWND window, std::string_view label);

// Types `text` into an edit control: for every UTF-16 unit a WM_CHAR, then the
// key's release (WM_KEYUP), all posted in order. No WM_KEYDOWN: a message loop
// that translates it would type the character a second time.
void TypeText(HWND edit, std::string_view text);
// Replaces the whole text at once (WM_SETTEXT), with no key event.
bool SetText(HWND control, std::string_view text);
// Posts the release of a key, which is what key-release handlers look at.
void ReleaseKey(HWND control, WORD virtualKey);
// Posts the press and release of a key to the control of `window` that has the
// keyboard focus, or to `window` itself. Dialog loops turn Escape into Cancel
// and Enter into the default button from there.
void PressKey(HWND window, WORD virtualKey);
// Posts WM_CLOSE, as the window's close button does.
void Close(HWND window);

// A command line that gives back exactly `arguments` to the usual parser
// (CommandLineToArgvW, the C runtime), quoting where needed.
std::string QuoteCommandLine(const std::vector<std::string>& arguments);

// A window handle as the command line writes it ("0x" and hexadecimal), and back.
std::string FormatHandle(HWND window);
HWND ParseHandle(std::string_view text);

}  // namespace vtl::uidriver
