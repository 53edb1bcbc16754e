// vtl-uidriver: the UI driver on the command line, for scripts and for a
// look at a running program under Wine.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "transcript.h"
#include "uidriver.h"
#include "unique_handle.h"
#include "win32/text.h"

namespace {

using namespace vtl::uidriver;

constexpr char kHelp[] = R"(vtl-uidriver: find and drive the windows of running programs.

usage: vtl-uidriver.exe COMMAND [ARGUMENTS] [OPTIONS]

Commands:
  list [--pid PID] [--all]
      Top-level windows from top to bottom, one per line:
      HWND <TAB> PID <TAB> visible|hidden <TAB> CLASS <TAB> CAPTION
      Hidden windows are listed only with --all.
  children HWND
      The controls inside a window, depth first in z-order (the tab order of
      a dialog), one per line:
      HWND <TAB> DEPTH <TAB> CLASS <TAB> ID <TAB> visible|hidden <TAB> TEXT
  wait [--pid PID] [--caption TEXT] [--class NAME] [--all] [--timeout MS]
      Waits for a top-level window that matches (visible unless --all) and
      prints it as "list" does. Exit status 1 when none came in time.
  gone HWND [--timeout MS]
      Waits until the window no longer exists. Exit status 1 when it stays.
  text HWND
      The window's caption, then the text of every control, one per line.
  buttons HWND
      The labels of the window's push buttons in tab order, "&" marks removed.
  type HWND TEXT [--set]
      Types TEXT into an edit control: per character a WM_CHAR and then the
      key's release (WM_KEYUP), posted. With --set: WM_SETTEXT, then the
      release of the last character's key.
  press HWND LABEL
      Clicks the push button labelled LABEL inside the window (BM_CLICK,
      posted). Exit status 1 when there is none.
  key HWND escape|enter|tab|space|CODE
      Posts the key's press and release to the focused control of the window.
  close HWND
      Posts WM_CLOSE to the window.
  launch [--caption TEXT] [--class NAME] [--close] [--timeout MS] -- PROGRAM [ARGS...]
      Starts PROGRAM and times it. With --caption or --class: waits for its
      visible top-level window that matches; with --close: then closes that
      window. Always waits for the program to end. Prints
      "pid=N window_ms=T exit_ms=T exit_code=C" (window_ms only with a
      window query), times measured from just before the program was started.
      Exit status 1 when the window did not come or the program did not end
      in time; the program is then ended.

Options:
  --timeout MS   for wait, gone and launch; default 30000.

Texts are UTF-8 and written with \\ \t \r \n escaped. HWND is written and
read in hexadecimal with "0x". Exit status 2 means a usage error.
)";

struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  std::vector<std::string> flags;
  std::vector<std::string> program;  // after "--"
};

bool HasFlag(const Options& o, const std::string& name) {
  for (const auto& f : o.flags)
    if (f == name) return true;
  return false;
}

Options Parse(int argc, wchar_t** argv) {
  static const char* const kValued[] = {"--pid", "--caption", "--class", "--timeout"};
  Options o;
  for (int i = 2; i < argc; ++i) {
    std::string a = vtl::win32::Narrow(argv[i]);
    if (a == "--") {
      for (++i; i < argc; ++i) o.program.push_back(vtl::win32::Narrow(argv[i]));
      break;
    }
    bool valued = false;
    for (const char* v : kValued)
      if (a == v) valued = true;
    if (valued && i + 1 < argc) {
      o.values[a] = vtl::win32::Narrow(argv[++i]);
    } else if (a.rfind("--", 0) == 0) {
      o.flags.push_back(a);
    } else {
      o.positional.push_back(a);
    }
  }
  return o;
}

WindowQuery QueryFrom(const Options& o) {
  WindowQuery q;
  if (auto it = o.values.find("--pid"); it != o.values.end()) q.processId = std::strtoul(it->second.c_str(), nullptr, 0);
  if (auto it = o.values.find("--caption"); it != o.values.end()) q.caption = it->second;
  if (auto it = o.values.find("--class"); it != o.values.end()) q.className = it->second;
  q.visibleOnly = !HasFlag(o, "--all");
  return q;
}

Milliseconds TimeoutFrom(const Options& o) {
  auto it = o.values.find("--timeout");
  return Milliseconds(it == o.values.end() ? 30000 : std::strtol(it->second.c_str(), nullptr, 10));
}

void Print(std::initializer_list<std::string_view> fields) {
  const std::string line = vtl::fake::FormatLine(fields);
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void PrintWindow(const WindowInfo& w) {
  Print({FormatHandle(w.handle), std::to_string(w.processId), w.visible ? "visible" : "hidden", w.className, w.text});
}

int Usage(const char* problem) {
  std::fprintf(stderr, "vtl-uidriver: %s (see --help)\n", problem);
  return 2;
}

HWND WindowArgument(const Options& o) {
  if (o.positional.empty()) return nullptr;
  HWND window = ParseHandle(o.positional[0]);
  return IsWindow(window) ? window : nullptr;
}

WORD KeyCode(const std::string& name) {
  if (name == "escape") return VK_ESCAPE;
  if (name == "enter") return VK_RETURN;
  if (name == "tab") return VK_TAB;
  if (name == "space") return VK_SPACE;
  return static_cast<WORD>(std::strtoul(name.c_str(), nullptr, 0));
}

int Launch(const Options& o) {
  if (o.program.empty()) return Usage("launch needs -- PROGRAM");
  WindowQuery query = QueryFrom(o);
  const bool waitForWindow = query.caption || query.className;
  const Milliseconds timeout = TimeoutFrom(o);

  std::wstring commandLine = vtl::win32::Widen(QuoteCommandLine(o.program));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  const auto start = std::chrono::steady_clock::now();
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    std::fprintf(stderr, "vtl-uidriver: cannot start %s (error %lu)\n", o.program[0].c_str(), GetLastError());
    return 1;
  }
  const vtl::e2e::UniqueHandle process(info.hProcess), thread(info.hThread);
  auto elapsed = [&] {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f",
                  std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    return std::string(ms);
  };
  auto fail = [&](const char* what) {
    std::fprintf(stderr, "vtl-uidriver: %s within %lld ms\n", what, static_cast<long long>(timeout.count()));
    TerminateProcess(process.get(), 1);
    return 1;
  };

  std::string report = "pid=" + std::to_string(info.dwProcessId);
  if (waitForWindow) {
    query.processId = info.dwProcessId;
    // Poll for the window, and stop early when the program ends without one.
    std::optional<WindowInfo> window;
    const auto deadline = start + timeout;
    while (!(window = WaitForWindow(query, Milliseconds(0)))) {
      if (WaitForSingleObject(process.get(), 20) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        std::fprintf(stderr, "vtl-uidriver: the program ended with exit code %lu before its window came\n", code);
        return 1;
      }
      if (std::chrono::steady_clock::now() >= deadline) return fail("no window came");
    }
    report += " window_ms=" + elapsed();
    if (HasFlag(o, "--close")) Close(window->handle);
  }
  if (WaitForSingleObject(process.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
    return fail("the program did not end");
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  report += " exit_ms=" + elapsed() + " exit_code=" + std::to_string(code);
  std::printf("%s\n", report.c_str());
  return 0;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) return Usage("no command");
  const std::string command = vtl::win32::Narrow(argv[1]);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  const Options o = Parse(argc, argv);

  if (command == "list") {
    for (const auto& w : TopLevelWindows(QueryFrom(o).processId))
      if (w.visible || HasFlag(o, "--all")) PrintWindow(w);
    return 0;
  }
  if (command == "wait") {
    const auto w = WaitForWindow(QueryFrom(o), TimeoutFrom(o));
    if (!w) return 1;
    PrintWindow(*w);
    return 0;
  }
  if (command == "launch") return Launch(o);

  static const char* const kWindowCommands[] = {"gone", "children", "text", "buttons", "close", "type", "press", "key"};
  if (std::find(std::begin(kWindowCommands), std::end(kWindowCommands), command) == std::end(kWindowCommands))
    return Usage("unknown command");
  HWND window = WindowArgument(o);
  if (!window) return Usage("the first argument must be an existing window (0x...)");
  if (command == "gone") return WaitUntilGone(window, TimeoutFrom(o)) ? 0 : 1;
  if (command == "children") {
    for (const auto& c : ChildControls(window))
      Print({FormatHandle(c.handle), std::to_string(c.depth), c.className, std::to_string(c.controlId),
             c.visible ? "visible" : "hidden", c.text});
    return 0;
  }
  if (command == "text") {
    Print({WindowText(window)});
    for (const auto& t : ControlTexts(window)) Print({t});
    return 0;
  }
  if (command == "buttons") {
    for (const auto& label : ButtonLabels(window)) Print({label});
    return 0;
  }
  if (command == "close") {
    Close(window);
    return 0;
  }
  if (o.positional.size() < 2) return Usage("missing argument");
  const std::string& argument = o.positional[1];
  if (command == "type") {
    if (HasFlag(o, "--set")) {
      if (!SetText(window, argument)) return 1;
      const std::wstring wide = vtl::win32::Widen(argument);
      const SHORT scan = wide.empty() ? -1 : VkKeyScanW(wide.back());
      ReleaseKey(window, scan == -1 ? static_cast<WORD>(VK_PACKET) : static_cast<WORD>(LOBYTE(scan)));
    } else {
      TypeText(window, argument);
    }
    return 0;
  }
  if (command == "press") return PressButton(window, argument) ? 0 : 1;
  if (command == "key") {
    PressKey(window, KeyCode(argument));
    return 0;
  }
  return Usage("unknown command");
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
