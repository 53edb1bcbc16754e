#include "win32/sys_utils.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <type_traits>

#include "win32/text.h"

namespace vtl::win32 {
namespace {

struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

struct LibraryFreer {
  void operator()(HMODULE m) const { FreeLibrary(m); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

struct CoTaskMemFreer {
  void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};
using CoTaskMemString = std::unique_ptr<wchar_t, CoTaskMemFreer>;

bool ShellAccepted(HINSTANCE result) { return reinterpret_cast<INT_PTR>(result) > 32; }

// Dispatches every pending message of the thread. False when a WM_QUIT came
// out of the queue; its exit code goes to `quitCode`.
bool PumpPendingMessages(int& quitCode) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quitCode = static_cast<int>(msg.wParam);
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

// SHGetFolderPathW's path for the CSIDL, without trailing backslash; empty on failure.
std::string GetSpecialFolderPath(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return Narrow(path);
}

std::string WithTrailingBackslash(std::string path) {
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

BOOL CALLBACK EnumWindowsCaptionsProc(HWND window, LPARAM param) noexcept {
  auto& captions = *reinterpret_cast<std::vector<std::string>*>(param);
  try {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return TRUE;
    std::wstring caption(static_cast<size_t>(length) + 1, L'\0');
    caption.resize(static_cast<size_t>(std::max(GetWindowTextW(window, caption.data(), length + 1), 0)));
    const bool blank = std::all_of(caption.begin(), caption.end(), [](wchar_t c) { return c <= L' '; });
    if (!blank) captions.push_back(Narrow(caption));
  } catch (...) {
    // A caption that cannot be added is left out; the enumeration goes on.
  }
  return TRUE;
}

}  // namespace

bool TSysUtils::ShellExec(const std::string& FilePath, const std::string& Arguments) {
  const std::wstring file = Widen(FilePath);
  const std::wstring args = Widen(Arguments);
  return ShellAccepted(ShellExecuteW(GetActiveWindow(), L"open", file.c_str(), args.c_str(), nullptr, SW_SHOWNORMAL));
}

bool TSysUtils::ShellExplore(const std::string& FilePath) {
  const std::wstring params = L"/select, \"" + Widen(FilePath) + L"\"";
  return ShellAccepted(
      ShellExecuteW(GetActiveWindow(), L"open", L"explorer.exe", params.c_str(), nullptr, SW_SHOWNORMAL));
}

uint32_t TSysUtils::ShellExecAsAdminAndWait(HWND AHandle, const std::string& FilePath, const std::string& Params) {
  const std::wstring file = Widen(FilePath);
  const std::wstring params = Widen(Params);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = AHandle;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = params.empty() ? nullptr : params.c_str();
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info)) return 0;
  const UniqueHandle process(info.hProcess);
  if (!process) return 0;

  DWORD exitCode = 0;
  int quitCode = 0;
  for (;;) {
    const bool quit = !PumpPendingMessages(quitCode);
    if (!GetExitCodeProcess(process.get(), &exitCode)) break;
    if (quit) {
      PostQuitMessage(quitCode);  // the caller's message loop still has to see it
      break;
    }
    if (exitCode != STILL_ACTIVE) break;
    // Sleeps until the process ends or input arrives. A process that ended
    // with the code STILL_ACTIVE itself is recognised by its signalled handle.
    HANDLE handle = process.get();
    const DWORD woken = MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken == WAIT_FAILED) break;
    if (woken == WAIT_OBJECT_0) {
      GetExitCodeProcess(process.get(), &exitCode);
      break;
    }
  }
  return exitCode;
}

std::string TSysUtils::GetDosOutput(const std::string& CommandLine, const std::string& WorkingDir, bool ShowWindow,
                                    const std::wstring* Environment) {
  // Commands may run on several threads at once. Between the pipe's creation
  // and the closing of our write end, no other command may start: its child
  // would inherit this write end and hold this command's output open until it
  // ends itself.
  static std::mutex startingCommand;
  std::unique_lock starting(startingCommand);
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &security, 0)) return {};
  const UniqueHandle reader(readEnd);
  UniqueHandle writer(writeEnd);
  SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);  // the child needs only the write end

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(ShowWindow ? SW_SHOWNORMAL : SW_HIDE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writer.get();
  startup.hStdError = writer.get();

  std::wstring commandLine = L"cmd.exe /C " + Widen(CommandLine);  // CreateProcessW may write into it
  const std::wstring folder = Widen(WorkingDir);
  PROCESS_INFORMATION started{};
  std::wstring environment = Environment ? *Environment : std::wstring();
  const bool ok = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                 Environment ? CREATE_UNICODE_ENVIRONMENT : 0,
                                 Environment ? environment.data() : nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &started);
  // Only the child may hold the write end now, so reading ends when it does.
  writer.reset();
  starting.unlock();
  if (!ok) return {};
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);

  std::string bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(reader.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  WaitForSingleObject(process.get(), INFINITE);

  // Decoded as a whole, so that a character is never cut in two; zero bytes
  // are left out without losing what follows them.
  std::string text = AnsiToUtf8(bytes);
  std::erase(text, '\0');
  return text;
}

void TSysUtils::GetWindowsCaptions(std::vector<std::string>& WindowsCaptionsList) {
  std::vector<std::string> captions;
  EnumWindows(EnumWindowsCaptionsProc, reinterpret_cast<LPARAM>(&captions));
  WindowsCaptionsList = std::move(captions);
}

bool TSysUtils::ExitWindows(UINT RebootParam) {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    const UniqueHandle owned(token);
    TOKEN_PRIVILEGES privileges{};
    if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
      privileges.PrivilegeCount = 1;
      privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      AdjustTokenPrivileges(owned.get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
  }
  return ExitWindowsEx(RebootParam, 0) != FALSE;
}

bool TSysUtils::DeleteDirectory(const std::string& DirPath) {
  std::wstring from = Widen(DirPath);
  from.push_back(L'\0');  // a list of one path, ended by two zeros
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
  return SHFileOperationW(&operation) == 0;
}

bool TSysUtils::CheckEdgeIsInstalled(const std::string& EdgeLoaderDllPath) {
  const std::wstring path = Widen(EdgeLoaderDllPath);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const UniqueLibrary library(LoadLibraryW(path.c_str()));
  if (!library) return false;
  using GetVersionString = HRESULT(STDAPICALLTYPE*)(PCWSTR browserExecutableFolder, LPWSTR* versionInfo);
  const auto getVersion = reinterpret_cast<GetVersionString>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "GetAvailableCoreWebView2BrowserVersionString")));
  if (!getVersion) return false;
  LPWSTR raw = nullptr;
  getVersion(nullptr, &raw);
  const CoTaskMemString version(raw);
  return version && version.get()[0] != L'\0';
}

std::string TSysUtils::GetUserDesktopDirPath() { return WithTrailingBackslash(GetSpecialFolderPath(CSIDL_DESKTOP)); }
std::string TSysUtils::GetUserDocumentsDirPath() { return WithTrailingBackslash(GetSpecialFolderPath(CSIDL_PERSONAL)); }
std::string TSysUtils::GetUserAppDataDirPath() { return WithTrailingBackslash(GetSpecialFolderPath(CSIDL_APPDATA)); }
std::string TSysUtils::GetLocalAppDataDirPath() {
  return WithTrailingBackslash(GetSpecialFolderPath(CSIDL_LOCAL_APPDATA));
}

std::string TSysUtils::GetTempDirPath() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH, path);
  if (n == 0 || n > MAX_PATH) return {};
  // Where the long form cannot be found or does not fit, the path stays as it is.
  wchar_t longPath[MAX_PATH] = {};
  const DWORD longLength = GetLongPathNameW(path, longPath, MAX_PATH);
  return Narrow(longLength > 0 && longLength < MAX_PATH ? longPath : path);
}

std::string TSysUtils::GetUserLanguageCode() {
  const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, nullptr, 0);
  if (length <= 0) return {};
  std::wstring name(static_cast<size_t>(length), L'\0');
  const int written = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, name.data(), length);
  if (written <= 0) return {};
  name.resize(static_cast<size_t>(written) - 1);
  return Narrow(name);
}

}  // namespace vtl::win32
