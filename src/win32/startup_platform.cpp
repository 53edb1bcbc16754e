#include "win32/startup_platform.h"

#include <windows.h>

#include "core/command_line.h"
#include "core/errors.h"
#include "os/file_source.h"
#include "win32/forms/edge_installer_form.h"
#include "win32/forms/message_dialog.h"
#include "win32/forms/password_form.h"
#include "win32/bridge/system_error_text.h"
#include "win32/module_image.h"
#include "win32/sys_utils.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

// A file handle closed when it goes out of scope.
struct FileHandle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~FileHandle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

[[noreturn]] void RaiseCreateError(const std::string& path, DWORD code) {
  throw EFCreateError("Cannot create file \"" + path + "\". " + SystemErrorMessage(code));
}

}  // namespace


Win32StartupPlatform::Win32StartupPlatform(StyleManager& styles) : styles_(styles) {}
Win32StartupPlatform::~Win32StartupPlatform() = default;

std::filesystem::path Win32StartupPlatform::ModulePath() { return RunningModulePath(); }
std::span<const uint8_t> Win32StartupPlatform::ModuleHeaders() { return RunningModuleHeaders(); }

std::shared_ptr<const ByteSource> Win32StartupPlatform::OpenModuleFile() { return OpenFileSource(ModulePath()); }

std::vector<std::string> Win32StartupPlatform::Arguments() { return CommandLineArguments(Narrow(GetCommandLineW())); }

std::string Win32StartupPlatform::AnsiToUtf8(std::string_view bytes) { return win32::AnsiToUtf8(bytes); }

std::string Win32StartupPlatform::UserLanguageCode() { return TSysUtils::GetUserLanguageCode(); }

int Win32StartupPlatform::MessageDialog(std::string_view text, DialogKind kind, std::span<const DialogButton> buttons,
                                        std::span<const std::string_view> buttonCaptions, std::string_view caption) {
  return LocalizedMessageDlg(text, kind, buttons, buttonCaptions, caption);
}

void Win32StartupPlatform::ApplyTheme(std::string_view name) {
  if (styles_.TrySetStyle(name)) return;
  constexpr DialogButton kOk[] = {DialogButton::OK};
  LocalizedMessageDlg(StyleManager::NotFoundMessage(name), DialogKind::Error, kOk, {}, "Error");
}

std::string Win32StartupPlatform::LocalAppDataDirPath() { return TSysUtils::GetLocalAppDataDirPath(); }

void Win32StartupPlatform::ForceDirectories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(Widen(path)), ec);
}

bool Win32StartupPlatform::FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(Widen(path)), ec);
}

void Win32StartupPlatform::WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::wstring target = Widen(path);
  const std::wstring temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  {
    FileHandle f{CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) RaiseCreateError(path, GetLastError());
    DWORD written = 0;
    if (!WriteFile(f.h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(f.h)) {
      const DWORD code = GetLastError();
      CloseHandle(f.h);
      f.h = INVALID_HANDLE_VALUE;
      DeleteFileW(temp.c_str());
      RaiseCreateError(path, code);
    }
  }
  if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    DeleteFileW(temp.c_str());
    // Another instance starting at the same moment may have put its copy in
    // place first, and may already have it loaded: that copy serves.
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) RaiseCreateError(path, code);
  }
}

void Win32StartupPlatform::RemoveFile(const std::string& path) { DeleteFileW(Widen(path).c_str()); }

bool Win32StartupPlatform::DeleteDirectory(const std::string& path) { return TSysUtils::DeleteDirectory(path); }

void Win32StartupPlatform::SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
  SetEnvironmentVariableW(Widen(name).c_str(), value ? Widen(*value).c_str() : nullptr);
}

bool Win32StartupPlatform::CheckEdgeIsInstalled(const std::string& loaderPath) {
  return TSysUtils::CheckEdgeIsInstalled(loaderPath);
}

void Win32StartupPlatform::ShowInstallerBusyWindow(int32_t formColor, int32_t indicatorColor, int32_t indicatorType) {
  busyWindow_ = TEdgeInstallerForm::Create(formColor, indicatorColor, indicatorType);
}

uint32_t Win32StartupPlatform::ShellExecAsAdminAndWait(const std::string& path, const std::string& params) {
  return TSysUtils::ShellExecAsAdminAndWait(GetActiveWindow(), path, params);
}

bool Win32StartupPlatform::ShellExec(const std::string& path, const std::string& arguments) {
  return TSysUtils::ShellExec(path, arguments);
}

bool Win32StartupPlatform::RequirePassword(const std::string& appName, const std::string& password) {
  return RunRequirePasswordForm(appName, password);
}

bool Win32StartupPlatform::CreateInstanceMutexAlreadyExists(const std::string& name) {
  // The handle stays open for the life of the process; the system releases it.
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, Widen(name).c_str());
  const DWORD error = GetLastError();
  (void)mutex;
  return error == ERROR_ALREADY_EXISTS;
}

}  // namespace vtl::win32
