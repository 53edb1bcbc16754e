// The shell, registry and notification adapters of the bridge against the
// real Win32 API. The power adapter is never called here: it would end the
// session.
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

#include "win32/bridge/registry_service.h"
#include "win32/bridge/shell_service.h"
#include "win32/bridge/system_error_text.h"
#include "win32/bridge/toast_notifications.h"
#include "win32/module_image.h"
#include "win32/registry_key.h"
#include "win32/sys_utils.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& p) { return Narrow(p.wstring()); }

fs::path ChildProgram() { return RunningModulePath().parent_path() / L"helpers" / L"vtl_test_child.exe"; }

class TempFolder {
 public:
  explicit TempFolder(const std::wstring& name) {
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

// Pumps this thread's messages until `done` or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds = 20000) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Registry

// A key of our own under HKEY_CURRENT_USER\Software, removed at the end.
class RegistryRoot {
 public:
  RegistryRoot() : path_("Software\\Vantrel Tests " + std::to_string(GetCurrentProcessId())) {}
  ~RegistryRoot() { RegDeleteTreeW(HKEY_CURRENT_USER, Widen(path_).c_str()); }
  std::string operator/(const std::string& sub) const { return path_ + "\\" + sub; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void SetRawValue(const std::string& key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  const RegistryKey opened = RegistryKey::Create(HKEY_CURRENT_USER, Widen(key), KEY_ALL_ACCESS);
  ASSERT_TRUE(opened);
  ASSERT_EQ(RegSetValueExW(opened.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

TEST(Win32RegistryService, WritesAndReadsStringsUnderTheCurrentUser) {
  RegistryRoot root;
  Win32RegistryService registry;
  const std::string key = root / "Demo\\Settings";
  const std::string text = "a \"quoted\" C:\\path\t\xC3\xA9\xE2\x82\xAC";

  EXPECT_FALSE(registry.KeyExists(key));
  EXPECT_EQ(registry.ReadString(key, "Greeting"), "");
  EXPECT_TRUE(registry.WriteString(key, "Greeting", ""));  // creates every missing key on the path
  EXPECT_TRUE(registry.KeyExists(key));
  EXPECT_TRUE(registry.ValueExists(key, "Greeting"));
  EXPECT_EQ(registry.ReadString(key, "Greeting"), "");

  EXPECT_TRUE(registry.WriteString(key, "Text \xC3\xBC", text));
  EXPECT_EQ(registry.ReadString(key, "Text \xC3\xBC"), text);
  const RegistryKey raw = RegistryKey::Open(HKEY_CURRENT_USER, Widen(key));
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExW(raw.get(), L"Text \u00FC", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  // One leading backslash addresses the same key.
  EXPECT_EQ(registry.ReadString("\\" + key, "Text \xC3\xBC"), text);
  EXPECT_TRUE(registry.KeyExists("\\" + key));

  EXPECT_TRUE(registry.DeleteValue(key, "Greeting"));
  EXPECT_FALSE(registry.DeleteValue(key, "Greeting"));
  EXPECT_FALSE(registry.ValueExists(key, "Greeting"));
  EXPECT_FALSE(registry.ValueExists(root / "Missing", "Greeting"));
  EXPECT_FALSE(registry.DeleteValue(root / "Missing", "Greeting"));
}

TEST(Win32RegistryService, OtherValueTypes) {
  RegistryRoot root;
  Win32RegistryService registry;
  const std::string key = root / "Types";
  const wchar_t expandable[] = L"%SystemRoot%\\x";
  SetRawValue(key, L"expand", REG_EXPAND_SZ, expandable, sizeof expandable);
  const DWORD number = 42;
  SetRawValue(key, L"dword", REG_DWORD, &number, sizeof number);
  SetRawValue(key, L"empty binary", REG_BINARY, nullptr, 0);

  EXPECT_EQ(registry.ReadString(key, "expand"), "%SystemRoot%\\x");  // not expanded
  EXPECT_THROW(registry.ReadString(key, "dword"), ERegistryException);
  EXPECT_EQ(registry.ReadString(key, "empty binary"), "");  // no data reads as empty
  EXPECT_TRUE(registry.ValueExists(key, "dword"));

  // Writing replaces a value of another type.
  EXPECT_TRUE(registry.WriteString(key, "dword", "now text"));
  EXPECT_EQ(registry.ReadString(key, "dword"), "now text");
}

TEST(Win32RegistryService, DeleteKeyRemovesADeepTree) {
  RegistryRoot root;
  Win32RegistryService registry;
  const std::string top = root / "Tree";
  for (const char* sub : {"a\\b\\c\\d", "a\\b\\e", "a\\f", "g"}) {
    ASSERT_TRUE(registry.WriteString(top + "\\" + sub, "v", sub));
  }
  EXPECT_TRUE(registry.DeleteKey("\\" + top));
  EXPECT_FALSE(registry.KeyExists(top));
  EXPECT_TRUE(registry.KeyExists(root.path()));
  EXPECT_FALSE(registry.DeleteKey(top));
}

TEST(Win32RegistryService, TheRootItselfIsNeverOpened) {
  Win32RegistryService registry;
  for (const char* key : {"\\"}) {
    SCOPED_TRACE(key);
    EXPECT_FALSE(registry.KeyExists(key));
    EXPECT_FALSE(registry.DeleteKey(key));
    EXPECT_FALSE(registry.WriteString(key, "vtl-test", "x"));
    EXPECT_EQ(registry.ReadString(key, "vtl-test"), "");
    EXPECT_FALSE(registry.ValueExists(key, "vtl-test"));
  }
  EXPECT_TRUE(registry.KeyExists("Software"));
}

// ---------------------------------------------------------------------------
// Shell

// A character the ANSI code page can encode, as its bytes there and as UTF-8.
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

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

struct CommandResult {
  std::optional<std::string> output;
  DWORD thread = 0;
};

TEST(Win32ShellService, CommandOutputArrivesWholeOnTheCallingThread) {
  ASSERT_TRUE(fs::exists(ChildProgram())) << ChildProgram() << " missing: build tests/win32/helpers";
  Win32ShellService shell;
  const AnsiCharacter wide = WidestAnsiCharacter();
  ASSERT_FALSE(wide.ansi.empty()) << "ANSI code page " << GetACP();
  const std::string padding(254, 'x');
  std::string lines;
  for (int i = 1; i <= 40; ++i) lines += "line " + std::to_string(i) + "\r\n";
  const std::string child = "\"" + Utf8(ChildProgram()) + "\" ";

  struct Case {
    const char* name;
    std::string command, expected;
  } cases[] = {
      {"quotes, backslashes, tab", "echo \"a b\" C:\\dir\\\\x\\ tab\there", "\"a b\" C:\\dir\\\\x\\ tab\there\r\n"},
      {"more than 255 bytes", "for /L %i in (1,1,40) do @echo line %i", lines},
      {"non-ASCII across 255 bytes", child + "write " + Hex(padding + wide.ansi + "\r\n"),
       padding + wide.utf8 + "\r\n"},
      {"standard error", "echo err 1>&2", "err \r\n"},
  };
  std::vector<CommandResult> results(std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    shell.GetDosOutput(cases[i].command, "", false, [&results, i](std::string output) {
      results[i].output = std::move(output);
      results[i].thread = GetCurrentThreadId();
    });
  }
  ASSERT_TRUE(PumpUntil([&] {
    return std::all_of(results.begin(), results.end(), [](const CommandResult& r) { return r.output.has_value(); });
  }));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(*results[i].output, cases[i].expected);
    EXPECT_EQ(results[i].thread, GetCurrentThreadId());
  }
}

TEST(Win32ShellService, CommandRunsInTheWorkingFolderOrReportsTheMissingProgram) {
  Win32ShellService shell;
  TempFolder folder(L"vtl shell command \u00E9");
  std::optional<std::string> cd, missing;
  shell.GetDosOutput("cd", Utf8(folder.path()), false, [&](std::string output) { cd = std::move(output); });
  shell.GetDosOutput("vtl-no-such-program --flag", "", false, [&](std::string output) { missing = output; });
  ASSERT_TRUE(PumpUntil([&] { return cd && missing; }));
  EXPECT_EQ(*cd, Utf8(folder.path()) + "\r\n");
  EXPECT_NE(missing->find("vtl-no-such-program"), std::string::npos) << *missing;  // cmd.exe's own message
}

TEST(Win32ShellService, OtherMessagesAreHandledWhileACommandRuns) {
  ASSERT_TRUE(fs::exists(ChildProgram())) << ChildProgram() << " missing: build tests/win32/helpers";
  Win32ShellService shell;
  std::optional<std::string> output;
  ULONGLONG answeredAt = 0;
  const ULONGLONG start = GetTickCount64();
  shell.GetDosOutput("\"" + Utf8(ChildProgram()) + "\" sleep 1500 write 646f6e65", "", false,
                     [&](std::string text) {
                       output = std::move(text);
                       answeredAt = GetTickCount64();
                     });
  EXPECT_LT(GetTickCount64() - start, 1000u) << "the command blocked its caller";

  // A message posted to a window of this thread is handled long before the
  // command ends.
  static ULONGLONG handledAt = 0;
  handledAt = 0;
  WNDCLASSW wc{};
  wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == WM_APP + 7) handledAt = GetTickCount64();
    return DefWindowProcW(hwnd, msg, wp, lp);
  };
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VtlShellTestReceiver";
  RegisterClassW(&wc);
  HWND receiver = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(receiver);
  std::thread poster([receiver] {
    Sleep(200);
    PostMessageW(receiver, WM_APP + 7, 0, 0);
  });
  ASSERT_TRUE(PumpUntil([&] { return output.has_value(); }));
  poster.join();
  DestroyWindow(receiver);
  EXPECT_EQ(*output, "done");
  ASSERT_NE(handledAt, 0u);
  EXPECT_LT(handledAt + 800, answeredAt);
}

TEST(Win32ShellService, ACommandIsNotHeldUpByOneStartedBesideIt) {
  ASSERT_TRUE(fs::exists(ChildProgram())) << ChildProgram() << " missing: build tests/win32/helpers";
  Win32ShellService shell;
  // Started together, a short command's output must not stay open in the
  // long command's process.
  std::optional<std::string> slow;
  std::vector<std::optional<std::string>> quick(24);
  for (size_t i = 0; i < quick.size(); ++i) {
    if (i == quick.size() / 2) {
      shell.GetDosOutput("\"" + Utf8(ChildProgram()) + "\" sleep 4000", "", false,
                         [&](std::string out) { slow = std::move(out); });
    }
    shell.GetDosOutput("echo q", "", false, [&result = quick[i]](std::string out) { result = out; });
  }
  ASSERT_TRUE(PumpUntil([&] {
    return slow || std::all_of(quick.begin(), quick.end(), [](const auto& r) { return r.has_value(); });
  }));
  EXPECT_FALSE(slow.has_value()) << "a quick command waited for the slow one";
  ASSERT_TRUE(PumpUntil([&] { return slow.has_value(); }));
}

TEST(Win32ShellService, NoAnswerAfterTheServiceIsGone) {
  bool called = false;
  {
    Win32ShellService shell;
    shell.GetDosOutput("echo late", "", false, [&](std::string) { called = true; });
  }
  Win32ShellService other;  // a live window of the same class, which must not receive it
  std::optional<std::string> marker;
  other.GetDosOutput("\"" + Utf8(ChildProgram()) + "\" sleep 1000", "", false, [&](std::string out) { marker = out; });
  ASSERT_TRUE(PumpUntil([&] { return marker.has_value(); }));
  EXPECT_FALSE(called);
}

TEST(Win32ShellService, ShellRefusalsCarryTheSystemMessage) {
  Win32ShellService shell;
  const SystemOutcome outcome = shell.ShellExec("C:\\vtl\\no-such-program.exe", "");
  EXPECT_FALSE(outcome.accepted);
  EXPECT_FALSE(outcome.errorMessage.empty());
  EXPECT_NE(outcome.errorMessage.back(), '.');
  std::printf("[ MESSAGE  ] %s\n", outcome.errorMessage.c_str());

  // The system's text for "file not found", with the trailing full stop and
  // line break gone.
  const std::string notFound = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(notFound.empty());
  EXPECT_EQ(std::string(".\r\n \t").find(notFound.back()), std::string::npos) << notFound;
}

TEST(Win32ShellService, CaptionsIncludeHiddenWindows) {
  const std::wstring caption = L"vtl hidden shell caption \u00E9";
  HWND hidden = CreateWindowExW(0, L"STATIC", caption.c_str(), WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(hidden);
  ASSERT_FALSE(IsWindowVisible(hidden));
  Win32ShellService shell;
  const std::vector<std::string> captions = shell.GetWindowsCaptions();
  DestroyWindow(hidden);
  EXPECT_NE(std::find(captions.begin(), captions.end(), Narrow(caption)), captions.end());
}

// ---------------------------------------------------------------------------
// Notifications

class RecordingPresenter : public ToastPresenter {
 public:
  struct Toast : ShownToast {
    explicit Toast(int number) : id(number) {}
    int id;
  };
  struct Log {
    std::vector<std::wstring> shownXml;
    std::vector<int> hidden;
    std::vector<std::function<void()>> activations;
    std::wstring appId;
  };
  explicit RecordingPresenter(Log& log) : log_(log) {}
  bool Available() override { return true; }
  std::unique_ptr<ShownToast> Show(const std::wstring& appId, const std::wstring& xml,
                                   std::function<void()> activated) override {
    log_.appId = appId;
    log_.shownXml.push_back(xml);
    log_.activations.push_back(std::move(activated));
    return std::make_unique<Toast>(static_cast<int>(log_.shownXml.size()));
  }
  void Hide(const std::wstring&, ShownToast& toast) override { log_.hidden.push_back(static_cast<Toast&>(toast).id); }

 private:
  Log& log_;
};

// The settings key of an identity, removed at the end.
struct SettingsKeyCleanup {
  std::wstring path;
  ~SettingsKeyCleanup() { RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()); }
};

std::wstring SettingsKey(const std::wstring& appId) {
  return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Notifications\\Settings\\" + appId;
}

std::wstring ShortcutWorkingDirectory(const fs::path& shortcut) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  wchar_t folder[MAX_PATH] = {};
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Load(shortcut.c_str(), STGM_READ))) link->GetWorkingDirectory(folder, MAX_PATH);
      file->Release();
    }
    link->Release();
  }
  CoUninitialize();
  return folder;
}

FILETIME LastWrite(const fs::path& file) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

TEST(Win32ToastNotifications, IdentityShortcutAndSettingsKey) {
  TempFolder programs(L"vtl programs");
  const std::wstring exe = RunningModulePath().wstring();
  RecordingPresenter::Log log;
  Win32ToastNotifications toasts(exe, programs.path().wstring(), std::make_unique<RecordingPresenter>(log));
  const SettingsKeyCleanup cleanup{SettingsKey(toasts.AppUserModelId())};
  RegDeleteKeyW(HKEY_CURRENT_USER, cleanup.path.c_str());

  const fs::path shortcut = programs.path() / (RunningModulePath().stem().wstring() + L".lnk");
  EXPECT_EQ(toasts.ShortcutPath(), shortcut.wstring());
  ASSERT_TRUE(toasts.EnsureIdentity());
  ASSERT_TRUE(fs::exists(shortcut));
  EXPECT_TRUE(CompareStringOrdinal(ShortcutTarget(shortcut.wstring()).c_str(), -1, exe.c_str(), -1, TRUE) ==
              CSTR_EQUAL)
      << Narrow(ShortcutTarget(shortcut.wstring()));
  EXPECT_EQ(ShortcutWorkingDirectory(shortcut), RunningModulePath().parent_path().wstring());
  // Wine's shell links accept properties but keep none; there the identity
  // cannot be read back, and the shortcut is written anew each time.
  const bool linksKeepProperties = !ShortcutAppUserModelId(shortcut.wstring()).empty();
  if (linksKeepProperties) {
    EXPECT_EQ(ShortcutAppUserModelId(shortcut.wstring()), toasts.AppUserModelId());
  } else {
    std::printf("[ WINE     ] shell links keep no properties: the shortcut's identity is not checked\n");
  }

  const RegistryKey settings = RegistryKey::Open(HKEY_CURRENT_USER, cleanup.path);
  ASSERT_TRUE(settings);
  DWORD value = 0, size = sizeof value, type = 0;
  ASSERT_EQ(RegQueryValueExW(settings.get(), L"ShowInActionCenter", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 1u);

  if (!linksKeepProperties) return;
  // The shortcut in place is kept as it is.
  HANDLE file = CreateFileW(shortcut.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const FILETIME old = {0x12345678, 0x01D00000};
  SetFileTime(file, nullptr, nullptr, &old);
  CloseHandle(file);
  ASSERT_TRUE(toasts.EnsureIdentity());
  const FILETIME kept = LastWrite(shortcut);
  EXPECT_EQ(CompareFileTime(&old, &kept), 0);

  // A shortcut of that name for another program is replaced.
  ASSERT_TRUE(DeleteFileW(shortcut.c_str()));
  {
    Win32ToastNotifications other(L"C:\\windows\\system32\\cmd.exe", programs.path().wstring(),
                                  std::make_unique<RecordingPresenter>(log));
    const SettingsKeyCleanup otherCleanup{SettingsKey(other.AppUserModelId())};
    ASSERT_TRUE(other.EnsureIdentity());
    ASSERT_TRUE(CopyFileW(other.ShortcutPath().c_str(), shortcut.c_str(), FALSE));
  }
  ASSERT_TRUE(toasts.EnsureIdentity());
  EXPECT_EQ(ShortcutAppUserModelId(shortcut.wstring()), toasts.AppUserModelId());
}

TEST(Win32ToastNotifications, ReplacementByNameAndClicksOnTheCreatingThread) {
  TempFolder programs(L"vtl programs");
  RecordingPresenter::Log log;
  Win32ToastNotifications toasts(RunningModulePath().wstring(), programs.path().wstring(),
                                 std::make_unique<RecordingPresenter>(log));
  const SettingsKeyCleanup cleanup{SettingsKey(toasts.AppUserModelId())};
  std::vector<std::pair<std::string, DWORD>> clicks;
  toasts.SetClickHandler([&](const std::string& name) { clicks.emplace_back(name, GetCurrentThreadId()); });

  ASSERT_TRUE(toasts.HasNotificationCenter());
  toasts.PresentNotification({"n", "Title", "Body"});
  toasts.PresentNotification({"other", "Only a title", ""});
  toasts.PresentNotification({"n", "Second", "<b>"});
  ASSERT_EQ(log.shownXml.size(), 3u);
  EXPECT_EQ(log.appId, toasts.AppUserModelId());
  EXPECT_EQ(log.hidden, std::vector<int>{1});  // the first "n", withdrawn for the second
  EXPECT_NE(log.shownXml[2].find(L"<text id=\"2\">&lt;b&gt;</text>"), std::wstring::npos) << Narrow(log.shownXml[2]);

  // The system reports the click on a thread of its own.
  toasts.PresentNotification({"say \"hi\"", "T", ""});
  std::thread([&] { log.activations[3](); }).join();
  EXPECT_TRUE(clicks.empty()) << "the click ran on the reporting thread";
  ASSERT_TRUE(PumpUntil([&] { return !clicks.empty(); }));
  EXPECT_EQ(clicks[0].first, "say \"hi\"");
  EXPECT_EQ(clicks[0].second, GetCurrentThreadId());
}

TEST(Win32ToastNotifications, ClicksAfterTheCentreIsGoneAreDropped) {
  TempFolder programs(L"vtl programs");
  RecordingPresenter::Log log;
  bool clicked = false;
  {
    Win32ToastNotifications toasts(RunningModulePath().wstring(), programs.path().wstring(),
                                   std::make_unique<RecordingPresenter>(log));
    const SettingsKeyCleanup cleanup{SettingsKey(toasts.AppUserModelId())};
    toasts.SetClickHandler([&](const std::string&) { clicked = true; });
    toasts.PresentNotification({"n", "T", ""});
  }
  ASSERT_EQ(log.activations.size(), 1u);
  log.activations[0]();
  PumpUntil([] { return false; }, 200);
  EXPECT_FALSE(clicked);
}

TEST(Win32ToastNotifications, NothingIsShownWithoutAnIdentity) {
  RecordingPresenter::Log log;
  Win32ToastNotifications toasts(RunningModulePath().wstring(), L"C:\\vtl\\no such folder",
                                 std::make_unique<RecordingPresenter>(log));
  const SettingsKeyCleanup cleanup{SettingsKey(toasts.AppUserModelId())};
  toasts.PresentNotification({"n", "T", "B"});
  EXPECT_TRUE(log.shownXml.empty());
}

TEST(WinRtToastPresenter, AnswersWhetherTheSystemHasANotifier) {
  // Windows 8 and later have one; Wine has none, and the command then answers false.
  const auto presenter = CreateWinRtToastPresenter();
  std::printf("[ TOASTS   ] system toast notifier: %s\n", presenter->Available() ? "yes" : "no");
  if (!presenter->Available()) {
    Win32ToastNotifications toasts(RunningModulePath().wstring());
    EXPECT_FALSE(toasts.HasNotificationCenter());
  }
}

}  // namespace
}  // namespace vtl::win32
