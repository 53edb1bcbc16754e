#include "win32/sys_utils.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "win32/module_image.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& p) { return Narrow(p.wstring()); }

// The child program of tests/win32/helpers, built into helpers/ beside this test program.
fs::path ChildProgram() { return RunningModulePath().parent_path() / L"helpers" / L"vtl_test_child.exe"; }

std::string ChildCommand(const std::string& args) { return "\"" + Utf8(ChildProgram()) + "\" " + args; }

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

// A fresh folder in the temporary folder, removed with its contents at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& name = L"vtl-sysutils") {
    path_ = fs::path(Widen(TSysUtils::GetTempDirPath())) / (name + L"-" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Sets an environment variable of this process for the scope.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[32768];
    const DWORD n = GetEnvironmentVariableW(name, old, 32768);
    if (n > 0 && n < 32768) old_ = std::wstring(old, n);
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironmentVariable() { SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }

 private:
  const wchar_t* name_;
  std::optional<std::wstring> old_;
};

// A hidden top-level window of our own. It counts the WM_APP messages it
// receives and remembers when the last one came.
class TestWindow {
 public:
  explicit TestWindow(const std::wstring& caption) {
    static const ATOM atom = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = Proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"VtlSysUtilsTestWindow";
      return RegisterClassW(&wc);
    }();
    hwnd_ = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)), caption.c_str(),
                            WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~TestWindow() { DestroyWindow(hwnd_); }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  int received = 0;
  ULONGLONG lastReceivedAt = 0;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP) {
      if (auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
        ++self->received;
        self->lastReceivedAt = GetTickCount64();
      }
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  HWND hwnd_ = nullptr;
};

ULONGLONG ThreadCpuMilliseconds() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return (ticks(kernel) + ticks(user)) / 10000;
}

// A character the ANSI code page can encode, as its bytes there and as UTF-8:
// a double-byte one where the code page has them.
struct AnsiCharacter {
  std::string ansi, utf8;
};
AnsiCharacter WidestAnsiCharacter() {
  for (const wchar_t* c : {L"\u4E2D", L"\u00E9", L"\u0416", L"\u03A9"}) {
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, c, 1, bytes, sizeof bytes, nullptr, &usedDefault);
    if (n > 0 && !usedDefault) return {std::string(bytes, static_cast<size_t>(n)), Narrow(c)};
  }
  return {};
}

TEST(SysUtilsDosOutput, CollectsStandardOutputAndErrorExactly) {
  ASSERT_TRUE(fs::exists(ChildProgram())) << ChildProgram() << " missing: build tests/win32/helpers";
  std::string lines;
  for (int i = 1; i <= 60; ++i) lines += "line " + std::to_string(i) + "\r\n";
  // The old reader decoded 255-byte chunks one by one: a character across the
  // boundary broke in two, and a zero byte cut off the rest of its chunk.
  const AnsiCharacter wide = WidestAnsiCharacter();
  ASSERT_FALSE(wide.ansi.empty()) << "ANSI code page " << GetACP();
  const std::string padding(254, 'x');

  struct Case {
    const char* name;
    std::string command, expected;
  } cases[] = {
      {"quotes, backslashes, tab", "echo \"a b\" C:\\dir\\\\x\\ tab\there", "\"a b\" C:\\dir\\\\x\\ tab\there\r\n"},
      {"standard output and error", "echo out& echo err 1>&2", "out\r\nerr \r\n"},
      {"long output", "for /L %i in (1,1,60) do @echo line %i", lines},
      {"character across 255 bytes", ChildCommand("write " + Hex(padding + wide.ansi + "tail")),
       padding + wide.utf8 + "tail"},
      {"zero byte", ChildCommand("write " + Hex(std::string("before\0after\r\n", 14))), "beforeafter\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TSysUtils::GetDosOutput(c.command, "", false), c.expected);
  }
  std::printf("[ ANSI     ] code page %u, test character %zu byte(s)\n", GetACP(), wide.ansi.size());
}

TEST(SysUtilsDosOutput, RunsInTheWorkingFolder) {
  TempFolder folder(L"vtl dos output");
  EXPECT_EQ(TSysUtils::GetDosOutput("cd", Utf8(folder.path()), false), Utf8(folder.path()) + "\r\n");
  // A folder that does not exist: cmd.exe does not start, nothing comes back.
  EXPECT_EQ(TSysUtils::GetDosOutput("echo never", Utf8(folder.path() / L"missing"), false), "");
}

TEST(SysUtilsDosOutput, MissingProgramGivesTheShellsMessage) {
  const std::string output = TSysUtils::GetDosOutput("vtl-no-such-program --flag", "", false);
  EXPECT_NE(output.find("vtl-no-such-program"), std::string::npos) << output;
}

TEST(SysUtils, WindowsCaptionsIncludeHiddenWindowsAndSkipBlankOnes) {
  const std::wstring caption = L"  vtl hidden caption \u00E9  ";
  TestWindow named(caption);
  TestWindow blank(L" \t ");
  ASSERT_TRUE(named.hwnd() && blank.hwnd());
  ASSERT_FALSE(IsWindowVisible(named.hwnd()));

  std::vector<std::string> captions{"stale entry"};
  TSysUtils::GetWindowsCaptions(captions);
  EXPECT_NE(std::find(captions.begin(), captions.end(), Narrow(caption)), captions.end());  // untrimmed
  EXPECT_EQ(std::find(captions.begin(), captions.end(), "stale entry"), captions.end());
  for (const std::string& c : captions) {
    EXPECT_TRUE(std::any_of(c.begin(), c.end(), [](char ch) { return static_cast<unsigned char>(ch) > ' '; }))
        << "blank caption \"" << c << "\"";
  }
}

// Straight through Win32, so that names outside the ANSI code page work too.
void MakeFolder(const fs::path& path) { ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError(); }
void MakeFile(const fs::path& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD written = 0;
  WriteFile(file, "content", 7, &written, nullptr);
  CloseHandle(file);
}

TEST(SysUtils, DeleteDirectoryRemovesATree) {
  TempFolder parent;
  const fs::path root = parent.path() / L"tree \u00FC\u20AC\u4E2D";
  MakeFolder(root);
  MakeFolder(root / L"sub");
  MakeFolder(root / L"sub" / L"deeper");
  MakeFile(root / L"sub" / L"file \u00E9.txt");
  MakeFile(root / L"sub" / L"deeper" / L"x.bin");

  EXPECT_TRUE(TSysUtils::DeleteDirectory(Utf8(root)));
  EXPECT_EQ(GetFileAttributesW(root.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(fs::exists(parent.path()));
  EXPECT_FALSE(TSysUtils::DeleteDirectory(Utf8(root)));
}

TEST(SysUtils, CheckEdgeIsInstalledRefusesWhatIsNoLoader) {
  TempFolder folder;
  std::ofstream(folder.path() / L"empty.dll").close();
  std::ofstream(folder.path() / L"text.dll") << "MZ but not an image";
  wchar_t kernel32[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(L"kernel32.dll"), kernel32, MAX_PATH), 0u);

  const std::pair<const char*, std::string> cases[] = {
      {"missing file", Utf8(folder.path() / L"missing.dll")},
      {"empty file", Utf8(folder.path() / L"empty.dll")},
      {"not a library", Utf8(folder.path() / L"text.dll")},
      {"a folder", Utf8(folder.path())},
      {"library without the export", Narrow(kernel32)},
  };
  for (const auto& [name, path] : cases) {
    EXPECT_FALSE(TSysUtils::CheckEdgeIsInstalled(path)) << name;
  }
}

TEST(SysUtils, UserFoldersEndWithABackslashAndExist) {
  const std::pair<const char*, std::string> cases[] = {
      {"desktop", TSysUtils::GetUserDesktopDirPath()},
      {"documents", TSysUtils::GetUserDocumentsDirPath()},
      {"roaming app data", TSysUtils::GetUserAppDataDirPath()},
      {"local app data", TSysUtils::GetLocalAppDataDirPath()},
      {"temp", TSysUtils::GetTempDirPath()},
  };
  for (const auto& [name, path] : cases) {
    SCOPED_TRACE(name);
    ASSERT_GT(path.size(), 3u) << path;
    EXPECT_EQ(path.back(), '\\');
    EXPECT_TRUE(fs::is_directory(Widen(path))) << path;
  }
}

TEST(SysUtils, TempDirPathIsTheLongForm) {
  TempFolder folder(L"vtl long temporary folder name");
  wchar_t shortForm[MAX_PATH];
  const DWORD n = GetShortPathNameW(folder.path().c_str(), shortForm, MAX_PATH);
  ASSERT_GT(n, 0u);
  ASSERT_NE(std::wstring(shortForm, n), folder.path().wstring()) << "no short name to expand";

  ScopedEnvironmentVariable tmp(L"TMP", shortForm);
  EXPECT_EQ(TSysUtils::GetTempDirPath(), Utf8(folder.path()) + "\\");
}

TEST(SysUtils, UserLanguageCodeIsTheLocalesLanguage) {
  wchar_t locale[LOCALE_NAME_MAX_LENGTH];
  ASSERT_GT(GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH), 0);
  const std::wstring name = locale;
  EXPECT_EQ(TSysUtils::GetUserLanguageCode(), Narrow(name.substr(0, name.find(L'-'))));
}

TEST(SysUtils, ShellExecStartsProgramsWithTheirArguments) {
  EXPECT_FALSE(TSysUtils::ShellExec("C:\\vtl\\no-such-program.exe", ""));

  TempFolder folder;
  const fs::path out = folder.path() / L"out.txt";
  ASSERT_TRUE(TSysUtils::ShellExec("cmd.exe", "/C echo started>\"" + Utf8(out) + "\""));
  std::string text;
  for (int i = 0; i < 200 && text.empty(); ++i) {
    Sleep(50);
    std::ifstream in(out);
    std::getline(in, text);
  }
  EXPECT_EQ(text, "started");
}

TEST(SysUtilsAdminWait, ReturnsTheExitCode) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"/C exit 7", 7},
      {"/C exit 0", 0},
      {"/C exit 259", 259},  // STILL_ACTIVE itself: the ended process must not keep the wait going
  };
  for (const auto& [params, code] : cases) {
    EXPECT_EQ(TSysUtils::ShellExecAsAdminAndWait(nullptr, "cmd.exe", params), code) << params;
  }
  EXPECT_EQ(TSysUtils::ShellExecAsAdminAndWait(nullptr, "C:\\vtl\\no-such-program.exe", ""), 0u);
}

TEST(SysUtilsAdminWait, SleepsWhileMessagesKeepFlowing) {
  ASSERT_TRUE(fs::exists(ChildProgram())) << ChildProgram() << " missing: build tests/win32/helpers";
  TestWindow window(L"vtl wait test");
  ASSERT_TRUE(window.hwnd());
  PostMessageW(window.hwnd(), WM_APP, 0, 0);
  std::thread poster([hwnd = window.hwnd()] {
    Sleep(400);
    PostMessageW(hwnd, WM_APP, 0, 0);
  });

  const ULONGLONG cpuBefore = ThreadCpuMilliseconds();
  const ULONGLONG start = GetTickCount64();
  const uint32_t code = TSysUtils::ShellExecAsAdminAndWait(window.hwnd(), Utf8(ChildProgram()), "sleep 2000");
  const ULONGLONG end = GetTickCount64();
  const ULONGLONG cpu = ThreadCpuMilliseconds() - cpuBefore;
  poster.join();

  EXPECT_EQ(code, 0u);
  EXPECT_GE(end - start, 1900u);
  EXPECT_EQ(window.received, 2);
  EXPECT_LT(window.lastReceivedAt + 1000, end) << "the message posted during the wait came only at its end";
  EXPECT_LT(cpu * 4, end - start) << "the waiting thread burnt " << cpu << " ms of CPU";
  std::printf("[ CPU      ] waiting thread: %llu ms CPU over %llu ms\n", cpu, end - start);
}

TEST(SysUtilsAdminWait, QuitEndsTheWaitAndIsPostedAgain) {
  ASSERT_TRUE(fs::exists(ChildProgram())) << ChildProgram() << " missing: build tests/win32/helpers";
  const DWORD self = GetCurrentThreadId();
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists before the other thread posts
  std::thread poster([self] {
    Sleep(400);
    PostThreadMessageW(self, WM_QUIT, 3, 0);
  });
  const ULONGLONG start = GetTickCount64();
  const uint32_t code = TSysUtils::ShellExecAsAdminAndWait(nullptr, Utf8(ChildProgram()), "sleep 3000");
  const ULONGLONG elapsed = GetTickCount64() - start;
  poster.join();

  EXPECT_EQ(code, static_cast<uint32_t>(STILL_ACTIVE));
  EXPECT_LT(elapsed, 2500u);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

}  // namespace
}  // namespace vtl::win32
