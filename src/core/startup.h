#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/exe_utils.h"
#include "core/runtime_zip.h"
#include "core/settings.h"

namespace vtl {

// Kinds and buttons of the standard message dialog. Buttons are listed in the
// order a dialog shows them; each ends the dialog with its own modal result.
enum class DialogKind { Warning, Error, Information, Confirmation, Custom };
enum class DialogButton { Yes, No, OK, Cancel, Abort, Retry, Ignore, All, NoToAll, YesToAll, Help, Close };
enum ModalResult : int {
  mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
  mrClose = 8, mrHelp = 9, mrAll = 12, mrNoToAll = 13, mrYesToAll = 14,
};
int ModalResultOf(DialogButton button);

// What start-up asks of the operating system. The Windows build implements
// it over Win32; tests implement it in memory.
class StartupPlatform {
 public:
  virtual ~StartupPlatform() = default;

  // The running executable: its file, its mapped headers, its arguments.
  virtual std::filesystem::path ModulePath() = 0;
  virtual std::span<const uint8_t> ModuleHeaders() = 0;
  // The running executable's file, open for reading at offsets for the life
  // of the process (the package is read from it in place). Raises EFOpenError.
  virtual std::shared_ptr<const ByteSource> OpenModuleFile() = 0;
  virtual std::vector<std::string> Arguments() = 0;
  // Settings text without a byte-order mark is in the system's ANSI code page.
  virtual std::string AnsiToUtf8(std::string_view bytes) = 0;

  // ISO 639 language name of the user's default locale, e.g. "de"; empty
  // when the system cannot tell.
  virtual std::string UserLanguageCode() = 0;
  // Shows the message dialog modally; the n-th button gets the n-th caption.
  // Returns the modal result (the close button and Escape give mrCancel).
  virtual int MessageDialog(std::string_view text, DialogKind kind, std::span<const DialogButton> buttons,
                            std::span<const std::string_view> buttonCaptions, std::string_view caption) = 0;

  // Switches every window of the process to the named visual style; shows
  // "Style '%s' not found" itself when there is none of that name.
  virtual void ApplyTheme(std::string_view name) = 0;

  // Folder of the user's local application data, ending with a backslash.
  virtual std::string LocalAppDataDirPath() = 0;
  // Creates a folder with every missing parent; reports nothing.
  virtual void ForceDirectories(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Writes the file under a temporary name and renames it into place, so no
  // reader ever sees it half written. Raises EFCreateError.
  virtual void WriteFileAtomically(const std::string& path, std::string_view bytes) = 0;
  virtual void RemoveFile(const std::string& path) = 0;
  // Deletes a folder with its contents; false when that failed.
  virtual bool DeleteDirectory(const std::string& path) = 0;
  // Sets a variable of this process's environment, or removes it.
  virtual void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) = 0;

  // True when the loader library at `loaderPath` reports an installed runtime.
  virtual bool CheckEdgeIsInstalled(const std::string& loaderPath) = 0;
  // Shows the busy window of the installation (no owner, not modal) and
  // hides the application's own window.
  virtual void ShowInstallerBusyWindow(int32_t formColor, int32_t indicatorColor, int32_t indicatorType) = 0;
  // Starts a program elevated and hidden, owned by the active window, and
  // waits for it while window messages keep flowing. 0 when it did not start.
  virtual uint32_t ShellExecAsAdminAndWait(const std::string& path, const std::string& params) = 0;
  // Starts a program through the shell; true when the shell accepted.
  virtual bool ShellExec(const std::string& path, const std::string& arguments) = 0;

  // Runs the password prompt modally; true when the right text was typed.
  virtual bool RequirePassword(const std::string& appName, const std::string& password) = 0;

  // Creates the named single-instance mutex (never closed) and tells whether
  // it existed already.
  virtual bool CreateInstanceMutexAlreadyExists(const std::string& name) = 0;
};

// Everything start-up sets up for the life of the process.
struct Runtime {
  ::vtl::RuntimeZip RuntimeZip;  // reads the appended archive in place from the executable's file
  IniDocument RuntimeINI;
  std::string RuntimeAppID, RuntimeAppName, RuntimeAppDirName, RuntimeIndexHtml;
  std::string RuntimeDataDirPath, RuntimeWebViewDirPath, WebView2LoaderDllPath;
  std::vector<std::string> arguments;  // the command line, program excluded
};

inline constexpr std::string_view kDefaultBrowserArguments =
    "--disable-logging --disable-web-security --disable-features=RendererCodeIntegrity "
    "--enable-features=msSpeechRecognition --autoplay-policy=no-user-gesture-required";
// Switches the runtime adds to any browser arguments that lack them. Without
// --allow-file-access-from-files the engine refuses fetch() of file:
// addresses, workers and streamed WebAssembly on file: pages, and with its
// own WebviewArguments a package would silently lose them.
inline constexpr std::string_view kRequiredBrowserArguments[] = {"--allow-file-access-from-files"};

// The value of WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS for the [App]
// WebviewArguments value: the default list when it is blank, else the value
// exactly as written; then every required switch it does not name already,
// each after one blank.
std::string BrowserArguments(std::string_view webviewArguments);

inline constexpr std::string_view kLoaderEntry = "WebView2LoaderWin64.dll";
inline constexpr std::string_view kInstallerEntry = "WebView2Installer.exe";

// The start-up loader. Returns nothing when start-up may go on; otherwise the
// exit code the process must end with, after at most one message. Errors it
// cannot handle (an archive that does not open, a file that cannot be
// created) are raised for the unhandled-error report.
std::optional<int> LoadRuntime(StartupPlatform& platform, Runtime& runtime);

// The single-instance rule, after the loader. True when this instance may go
// on to its main window.
bool PassesSingleInstanceCheck(StartupPlatform& platform, const Runtime& runtime);

// True when the first argument is the application ID: a start by the
// runtime itself. With exactly two such arguments the second is a start URL.
bool IsRelaunch(const Runtime& runtime);
std::optional<std::string> RelaunchStartUrl(const Runtime& runtime);

}  // namespace vtl
