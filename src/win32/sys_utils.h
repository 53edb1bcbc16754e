#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// winuser.h's legacy two-argument macro would swallow TSysUtils::ExitWindows.
#undef ExitWindows

namespace vtl::win32 {

// Thin wrappers around the shell, process, folder and shutdown services.
// They fix the verbs, flags and show commands the runtime uses; callers decide
// what to do with the results. Failures come back as false, 0 or "".
struct TSysUtils {
  TSysUtils() = delete;

  // "open" through the shell, owned by the active window; true when the shell
  // accepted the request.
  static bool ShellExec(const std::string& FilePath, const std::string& Arguments);
  // An Explorer window on the item's folder with the item selected.
  static bool ShellExplore(const std::string& FilePath);
  // Starts FilePath elevated ("runas") and hidden, and waits for it while the
  // thread's window messages keep flowing. Returns the last exit code read:
  // STILL_ACTIVE (259) when a WM_QUIT ended the wait (the quit is posted again
  // for the caller's loop), 0 when the program did not start.
  static uint32_t ShellExecAsAdminAndWait(HWND AHandle, const std::string& FilePath, const std::string& Params);
  // Runs "cmd.exe /C " + CommandLine and returns what it wrote to standard
  // output and standard error, decoded from the ANSI code page with zero bytes
  // left out. Blocks until the command ends; empty when it did not start.
  // `Environment`, when given, is the child's environment block (UTF-16).
  static std::string GetDosOutput(const std::string& CommandLine, const std::string& WorkingDir, bool ShowWindow,
                                  const std::wstring* Environment = nullptr);
  // Replaces the list with the captions of all top-level windows, hidden ones
  // included, leaving out captions that are blank.
  static void GetWindowsCaptions(std::vector<std::string>& WindowsCaptionsList);
  // Enables the shutdown privilege and calls ExitWindowsEx(RebootParam, 0).
  static bool ExitWindows(UINT RebootParam);
  // Deletes the folder with its contents, without confirmation, progress or
  // recycle bin.
  static bool DeleteDirectory(const std::string& DirPath);
  // True when the WebView2 loader library at the path loads and reports an
  // installed runtime version.
  static bool CheckEdgeIsInstalled(const std::string& EdgeLoaderDllPath);

  // Folders of the current user, each ending with a backslash ("\" alone when
  // the system gives none).
  static std::string GetUserDesktopDirPath();
  static std::string GetUserDocumentsDirPath();
  static std::string GetUserAppDataDirPath();
  static std::string GetLocalAppDataDirPath();
  // The temporary folder in its long form; empty when the system gives none.
  static std::string GetTempDirPath();

  // ISO 639 language name of the user's default locale, e.g. "de"; empty on failure.
  static std::string GetUserLanguageCode();
};

}  // namespace vtl::win32
