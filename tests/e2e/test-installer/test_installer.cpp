// Stands in for the WebView2 runtime installer. It writes to the transcript
// (VTL_FAKE_LOG):
//   installer<TAB>ARGUMENTS       the command line after the program name
//   installer-path<TAB>PATH       where it was started from
// then waits VTL_TEST_INSTALLER_SLEEP_MS milliseconds if set, and "installs"
// by creating the file named by VTL_FAKE_WEBVIEW2_INSTALLED_MARKER, which
// makes the fake loader report a runtime. With VTL_TEST_INSTALLER_FAIL set to
// anything but empty it installs nothing. It always exits with 0, like an
// installer whose exit code nobody reads.

#include <windows.h>

#include <cwchar>
#include <optional>
#include <string>

#include "transcript.h"
#include "unique_handle.h"
#include "win32/text.h"

namespace {

std::optional<std::wstring> EnvironmentValue(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (n == 0 || n >= std::size(buffer)) return std::nullopt;
  return std::wstring(buffer, n);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
  if (const auto log = EnvironmentValue(L"VTL_FAKE_LOG")) {
    const std::string path = vtl::win32::Narrow(*log);
    wchar_t self[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    vtl::fake::AppendLine(path, {"installer", vtl::win32::Narrow(arguments ? arguments : L"")});
    vtl::fake::AppendLine(path, {"installer-path", vtl::win32::Narrow(std::wstring_view(self, n))});
  }
  if (const auto sleep = EnvironmentValue(L"VTL_TEST_INSTALLER_SLEEP_MS")) Sleep(std::wcstoul(sleep->c_str(), nullptr, 10));
  if (EnvironmentValue(L"VTL_TEST_INSTALLER_FAIL")) return 0;
  if (const auto marker = EnvironmentValue(L"VTL_FAKE_WEBVIEW2_INSTALLED_MARKER")) {
    const vtl::e2e::UniqueHandle created(CreateFileW(marker->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  return 0;
}
