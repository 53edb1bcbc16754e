#include "uidriver.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "win32/text.h"

namespace vtl::uidriver {
namespace {

constexpr Milliseconds kPollInterval{50};

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string ClassNameOf(HWND window) {
  wchar_t name[256];
  const int n = GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return win32::Narrow(std::wstring_view(name, n > 0 ? static_cast<size_t>(n) : 0));
}

bool IsPushButton(const WindowInfo& w) {
  if (!EqualsIgnoringAsciiCase(w.className, "Button")) return false;
  const LONG_PTR type = w.style & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_COMMANDLINK || type == BS_DEFCOMMANDLINK ||
         type == BS_SPLITBUTTON || type == BS_DEFSPLITBUTTON;
}

void AddChildren(HWND parent, int depth, std::vector<WindowInfo>& out) {
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    out.push_back(Describe(child, depth));
    AddChildren(child, depth + 1, out);
  }
}

LPARAM KeyData(WORD virtualKey, bool release) {
  const UINT scanCode = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  LPARAM data = 1 | (static_cast<LPARAM>(scanCode & 0xFF) << 16);
  if (release) data |= (static_cast<LPARAM>(1) << 30) | (static_cast<LPARAM>(1) << 31);
  return data;
}

WORD VirtualKeyOf(wchar_t c) {
  const SHORT scan = VkKeyScanW(c);
  return scan == -1 ? static_cast<WORD>(VK_PACKET) : static_cast<WORD>(LOBYTE(scan));
}

}  // namespace

std::string WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeout.count(), &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           kMessageTimeout.count(), &copied))
    return {};
  text.resize(copied < text.size() ? copied : length);
  return win32::Narrow(text);
}

WindowInfo Describe(HWND window, int depth) {
  WindowInfo w;
  w.handle = window;
  w.threadId = GetWindowThreadProcessId(window, &w.processId);
  w.className = ClassNameOf(window);
  w.text = WindowText(window);
  w.visible = IsWindowVisible(window) != FALSE;
  w.enabled = IsWindowEnabled(window) != FALSE;
  w.style = GetWindowLongPtrW(window, GWL_STYLE);
  w.exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
  w.controlId = static_cast<int>(GetWindowLongPtrW(window, GWLP_ID));
  GetWindowRect(window, &w.rect);
  w.depth = depth;
  return w;
}

std::vector<WindowInfo> TopLevelWindows(DWORD processId) {
  struct Search {
    DWORD processId;
    std::vector<HWND> found;
  } search{processId, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (s->processId == 0 || pid == s->processId) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  std::vector<WindowInfo> windows;
  for (HWND window : search.found) windows.push_back(Describe(window));
  return windows;
}

std::vector<WindowInfo> ChildControls(HWND window) {
  std::vector<WindowInfo> controls;
  AddChildren(window, 0, controls);
  return controls;
}

bool Matches(const WindowInfo& w, const WindowQuery& q) {
  if (q.processId && w.processId != q.processId) return false;
  if (q.visibleOnly && !w.visible) return false;
  if (q.caption && w.text != *q.caption) return false;
  if (q.className && !EqualsIgnoringAsciiCase(w.className, *q.className)) return false;
  return true;
}

std::vector<WindowInfo> FindTopLevelWindows(const WindowQuery& query) {
  std::vector<WindowInfo> found;
  for (auto& w : TopLevelWindows(query.processId))
    if (Matches(w, query)) found.push_back(std::move(w));
  return found;
}

std::optional<WindowInfo> WaitForWindow(const WindowQuery& query, Milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto found = FindTopLevelWindows(query);
    if (!found.empty()) return found.front();
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPollInterval);
  }
}

bool WaitUntilGone(HWND window, Milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (IsWindow(window)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

std::string ButtonLabel(std::string_view text) {
  std::string label;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      label += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '&') {
      label += '&';
      ++i;
    }
  }
  return label;
}

std::vector<std::string> ButtonLabels(HWND window) {
  std::vector<std::string> labels;
  for (const auto& c : ChildControls(window))
    if (IsPushButton(c) && c.visible) labels.push_back(ButtonLabel(c.text));
  return labels;
}

std::optional<WindowInfo> FindButton(HWND window, std::string_view label) {
  for (auto& c : ChildControls(window))
    if (IsPushButton(c) && c.visible && ButtonLabel(c.text) == label) return std::move(c);
  return std::nullopt;
}

std::optional<WindowInfo> FindControl(HWND window, std::string_view className) {
  for (auto& c : ChildControls(window))
    if (EqualsIgnoringAsciiCase(c.className, className)) return std::move(c);
  return std::nullopt;
}

std::vector<std::string> ControlTexts(HWND window) {
  std::vector<std::string> texts;
  for (auto& c : ChildControls(window))
    if (!c.text.empty()) texts.push_back(std::move(c.text));
  return texts;
}

bool PressButton(HWND window, std::string_view label) {
  const auto button = FindButton(window, label);
  return button && PostMessageW(button->handle, BM_CLICK, 0, 0);
}

void TypeText(HWND edit, std::string_view text) {
  for (wchar_t c : win32::Widen(text)) {
    PostMessageW(edit, WM_CHAR, c, 1);
    ReleaseKey(edit, VirtualKeyOf(c));
  }
}

bool SetText(HWND control, std::string_view text) {
  const std::wstring wide = win32::Widen(text);
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), SMTO_ABORTIFHUNG,
                             kMessageTimeout.count(), &result) != 0;
}

void ReleaseKey(HWND control, WORD virtualKey) { PostMessageW(control, WM_KEYUP, virtualKey, KeyData(virtualKey, true)); }

void PressKey(HWND window, WORD virtualKey) {
  HWND target = window;
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus &&
      (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
    target = info.hwndFocus;
  PostMessageW(target, WM_KEYDOWN, virtualKey, KeyData(virtualKey, false));
  PostMessageW(target, WM_KEYUP, virtualKey, KeyData(virtualKey, true));
}

void Close(HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); }

std::string QuoteCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const auto& arg : arguments) {
    if (!line.empty()) line += ' ';
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
      line += arg;
      continue;
    }
    line += '"';
    size_t backslashes = 0;
    for (char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      // Backslashes count only before a quote: double them there.
      line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
  }
  return line;
}

std::string FormatHandle(HWND window) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
  return text;
}

HWND ParseHandle(std::string_view text) {
  const std::string s(text);
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(s.c_str(), nullptr, 0)));
}

}  // namespace vtl::uidriver
