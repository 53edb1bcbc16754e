#pragma once

// What the end-to-end tests share: the build's programs, packages built
// in-process, processes started with their own environment, the transcript
// of the fake WebView2 loader, and the runtime's dialogs as the UI driver
// sees them.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "transcript.h"
#include "uidriver.h"
#include "unique_handle.h"

namespace vtl::e2e {

namespace fs = std::filesystem;
using uidriver::Milliseconds;
using uidriver::WindowInfo;

// Generous: Wine starts a process in seconds, and slower when many start at once.
inline constexpr Milliseconds kTimeout{60000};

// Paths of the build come from CMake as Unix paths when cross-compiled; Wine
// names their Windows form. A Windows path comes back as it is.
fs::path BuildPath(const char* path);
// The build's programs as Windows paths.
fs::path RuntimeExe();
fs::path FakeLoaderDll();
fs::path TestInstallerExe();
// A project folder of examples/, such as "showcase".
fs::path ExampleDir(std::string_view name);
// The Win32 tests' child program (tests/win32/helpers): writes given bytes,
// sleeps, waits for a file.
fs::path TestChildExe();
// SHGetFolderPathW(CSIDL_LOCAL_APPDATA): where the runtime puts its data folders.
fs::path LocalAppDataDir();

std::string Utf8(const fs::path& p);
fs::path PathFromUtf8(std::string_view s);

// Changes to the environment a program starts with: a value sets the
// variable, nothing removes it.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

// A started (or opened) process, ended by force if it still runs when the
// object goes: a failed test leaves nothing behind.
class Process {
 public:
  Process() = default;
  // Starts `exe` with `arguments` in `workingDir`, with this process's
  // environment changed by `env`.
  static Process Start(const fs::path& exe, const std::vector<std::string>& arguments, const Environment& env,
                       const fs::path& workingDir);
  // A process this test did not start itself, such as a relaunch.
  static Process Open(DWORD processId);

  DWORD id() const { return id_; }
  explicit operator bool() const { return static_cast<bool>(handle_); }
  bool Running() const;
  // The exit code; nothing when the process did not end in time.
  std::optional<DWORD> WaitForExit(Milliseconds timeout = kTimeout) const;

  ~Process();
  Process(Process&&) noexcept = default;
  Process& operator=(Process&&) noexcept = default;

 private:
  UniqueHandle handle_;
  DWORD id_ = 0;
};

// Starts `exe` through a second Wine loader whose Unix environment has
// LC_ALL=`unixLocale`. Wine takes a process's user locale from its Unix
// environment, and a Windows program's children inherit that unchanged, so
// this is the one way to give a single program another locale. No process
// handle comes back; find the program by its windows. False when not running
// under Wine.
bool StartWithUnixLocale(const fs::path& exe, const Environment& env, std::string_view unixLocale,
                         const fs::path& workingDir);

// Polls `done` until it is true or the time is up; its last answer.
bool WaitUntil(const std::function<bool()>& done, Milliseconds timeout = kTimeout);

// A visible top-level window of the process that matches `query` and
// `accept`; stops waiting early when the process has ended.
std::optional<WindowInfo> WaitForWindowOf(const Process& process, uidriver::WindowQuery query,
                                          const std::function<bool(const WindowInfo&)>& accept = {},
                                          Milliseconds timeout = kTimeout);
// A window of the process whose controls show `text`.
std::optional<WindowInfo> WaitForWindowShowing(const Process& process, std::string_view text,
                                               Milliseconds timeout = kTimeout);

// The start-up password prompt is captioned with the application's name and
// holds an edit box; the main window has the same caption and no edit box.
bool IsPasswordPrompt(HWND window);
std::optional<WindowInfo> WaitForPasswordPrompt(const Process& process, const std::string& appName,
                                                Milliseconds timeout = kTimeout);
std::optional<WindowInfo> WaitForMainWindow(const Process& process, const std::string& appName,
                                            Milliseconds timeout = kTimeout);
// Types the password into the process's prompt, one key at a time, and waits
// for the prompt to close. False when the process's first window with that
// caption is no prompt, or the prompt stayed.
bool EnterPassword(const Process& process, const std::string& appName, const std::string& password);

// Every visible top-level window the process shows until `done` is true or
// the process ends, as "caption" or "caption (prompt)".
std::vector<std::string> WatchWindows(const Process& process, const std::function<bool()>& done = {},
                                      Milliseconds timeout = kTimeout);
// A visible top-level window with that caption whose process runs `image`.
std::optional<WindowInfo> WaitForWindowOfImage(const fs::path& image, const std::string& caption,
                                               Milliseconds timeout = kTimeout);

// A message dialog as the user sees it, read once its texts have settled.
struct Dialog {
  HWND handle = nullptr;
  DWORD processId = 0;
  std::string caption;
  std::vector<std::string> texts;    // every control's text, in tab order
  std::vector<std::string> buttons;  // push-button labels, in tab order
  bool Shows(std::string_view text) const;
  bool Mentions(std::string_view fragment) const;  // some control's text contains it
};
Dialog ReadDialog(HWND window);
std::optional<Dialog> WaitForDialog(const Process& process, const std::string& caption, Milliseconds timeout = kTimeout);
std::ostream& operator<<(std::ostream& out, const Dialog& dialog);

// The fake loader's transcript, read at one moment.
struct Transcript {
  std::vector<fake::TranscriptLine> lines;

  std::vector<fake::TranscriptLine> Of(std::string_view kind) const;
  // Process ids of the `check` lines, one entry per line, in order.
  std::vector<std::string> CheckPids() const;
  // The WEBVIEW2_ variables as the last check of `pid` saw them; "(unset)" for absent ones.
  std::map<std::string, std::string> EnvironmentAtCheck(const std::string& pid) const;
};

// Each test gets its own folder for packages and transcripts, and
// application IDs no other test or run shares. Whatever the test started from
// its folder is ended, and its data folders are removed, when it ends.
class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new application ID; its data folder is removed after the test.
  std::string NewAppId(std::string_view label);
  static fs::path DataDirOf(const std::string& appId) { return LocalAppDataDir() / PathFromUtf8(appId); }
  // "[App]" with ID, Name and DirName=app, then `more` (lines ending in "\n").
  static std::string Settings(const std::string& appId, const std::string& name, std::string_view more = {});

  // A package built with the packer from a project holding `settings` and a
  // start page, with the fake loader and, when asked, the test installer.
  fs::path Package(const std::string& fileName, const std::string& settings, bool withInstaller = false);
  // The same, with more files in the project (path relative to the project
  // with "/", and bytes): pages under app/, the user script vtl-webviewjs.
  fs::path PackageWithFiles(const std::string& fileName, const std::string& settings,
                            const std::vector<std::pair<std::string, std::string>>& files,
                            bool withInstaller = false);
  // A package whose archive holds exactly `entries` (name, bytes): settings
  // the packer would refuse.
  fs::path PackageWithEntries(const std::string& fileName,
                              const std::vector<std::pair<std::string, std::string>>& entries);
  // The runtime followed by bytes that are no archive.
  fs::path DamagedPackage(const std::string& fileName);
  // A copy of the runtime with nothing appended.
  fs::path BareRuntime(const std::string& fileName);

  // The fake loader's transcript of this test, and the variables that send
  // the fake's (and the installer's) lines there.
  std::string LogPath() const { return Utf8(dir_ / "transcript.log"); }
  Transcript ReadTranscript() const { return {fake::ReadTranscript(LogPath())}; }
  // The page it plays answers the close query as the bridge's default does
  // (VTL_FAKE_PAGE_ANSWERS_CLOSE), so closing the main window ends the program.
  Environment FakeEnvironment(Environment more = {}) const;

  // A scenario of the fake loader (one command a line) for one program, with
  // a transcript of its own: FakeEnvironment with `more`, then the scenario
  // and the transcript. Programs that program starts write to `log`.<pid>.
  struct ScenarioRun {
    std::string log;
    Environment env;
    Transcript Read() const { return {fake::ReadTranscript(log)}; }
    // True once the fake wrote scenario-end.
    bool Ended() const { return !Read().Of("scenario-end").empty(); }
  };
  ScenarioRun Scenario(const std::string& label, const std::vector<std::string>& commands,
                       Environment more = {}) const;

  Process Start(const fs::path& exe, const Environment& env, const std::vector<std::string>& arguments = {}) const {
    return Process::Start(exe, arguments, env, dir_);
  }

  static std::string ReadFile(const fs::path& p);
  // Names of the files and folders directly in `folder`, sorted.
  static std::vector<std::string> Listing(const fs::path& folder);

  fs::path dir_;
  // Set by tests that break WebView2's rules on purpose (the fake's own
  // tests); otherwise a transcript line of a broken rule fails the test.
  bool rulesMayBreak_ = false;

 private:
  std::vector<std::string> appIds_;
};

}  // namespace vtl::e2e
