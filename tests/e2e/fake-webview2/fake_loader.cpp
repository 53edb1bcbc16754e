// The fake WebView2 loader: the loader library's exports with no browser
// behind them. Tests pack it into packages as WebView2LoaderWin64.dll and
// steer it through the environment the runtime inherits; what it is asked and
// what it sees goes to the transcript. tests/e2e/README.md has the contract.

#include <windows.h>

#include <WebView2.h>

#include <optional>
#include <string>

#include "fake_loader.h"
#include "transcript.h"
#include "win32/text.h"

namespace {

constexpr std::string_view kDefaultVersion = "120.0.2210.91";

}  // namespace

namespace fake {

std::string Pid() { return std::to_string(GetCurrentProcessId()); }

std::optional<std::string> EnvironmentValue(const char* name) {
  const std::wstring wideName = vtl::win32::Widen(name);
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
  value.resize(length < size ? length : 0);
  return vtl::win32::Narrow(value);
}

}  // namespace fake

namespace {

using fake::EnvironmentValue;

bool FileExists(const std::string& path) {
  return GetFileAttributesW(vtl::win32::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// What this process is to the test. A scenario runs once: the process that
// renames VTL_FAKE_SCENARIO to <file>.taken owns it and writes its transcript
// to VTL_FAKE_LOG; processes that find the scenario taken (relaunches, new
// windows) write to <log>.<pid>. Without VTL_FAKE_SCENARIO every process
// writes to VTL_FAKE_LOG itself.
//
// The runtime loads and frees the library for every check, so the role is
// kept in the process environment, as VTL_FAKE_PROCESS=<pid> owner|guest.
// Child processes inherit it with their parent's pid, which tells them they
// have not decided yet.
fake::ProcessRole DecideRole() {
  const std::string pid = std::to_string(GetCurrentProcessId());
  const auto remembered = EnvironmentValue("VTL_FAKE_PROCESS");
  const bool decided = remembered && remembered->rfind(pid + " ", 0) == 0;
  const auto scenario = EnvironmentValue("VTL_FAKE_SCENARIO");
  const bool hasScenario = scenario && !scenario->empty();

  bool owner = false;
  if (decided) {
    owner = *remembered == pid + " owner";
  } else if (hasScenario) {
    owner = MoveFileExW(vtl::win32::Widen(*scenario).c_str(), vtl::win32::Widen(*scenario + ".taken").c_str(), 0) != 0;
  }
  SetEnvironmentVariableW(L"VTL_FAKE_PROCESS", vtl::win32::Widen(pid + (owner ? " owner" : " guest")).c_str());

  fake::ProcessRole role;
  if (owner && hasScenario) role.scenario = *scenario + ".taken";
  const auto log = EnvironmentValue("VTL_FAKE_LOG");
  if (log && !log->empty()) role.transcript = owner || !hasScenario ? *log : *log + "." + pid;
  if (!decided && role.transcript)
    vtl::fake::AppendLine(*role.transcript, {"process", pid, vtl::win32::Narrow(GetCommandLineW())});
  return role;
}

}  // namespace

namespace fake {

const ProcessRole& Role() {
  static const ProcessRole role = DecideRole();
  return role;
}

}  // namespace fake

namespace {

// The runtime the fake reports. VTL_FAKE_WEBVIEW2_VERSION unset or empty: the
// default version. "none": no runtime, reported the way the real loader does
// (a failure HRESULT and no string). "null": no runtime, reported as success
// with no string, which a caller must treat the same. Once the file named by
// VTL_FAKE_WEBVIEW2_INSTALLED_MARKER exists (the test installer creates it),
// "none" and "null" report the default version.
struct Answer {
  std::optional<std::string> version;
  HRESULT result = S_OK;
};

Answer InstalledRuntime() {
  const auto requested = EnvironmentValue("VTL_FAKE_WEBVIEW2_VERSION");
  if (!requested || requested->empty()) return {std::string(kDefaultVersion), S_OK};
  if (*requested != "none" && *requested != "null") return {*requested, S_OK};
  const auto marker = EnvironmentValue("VTL_FAKE_WEBVIEW2_INSTALLED_MARKER");
  if (marker && !marker->empty() && FileExists(*marker)) return {std::string(kDefaultVersion), S_OK};
  return {std::nullopt, *requested == "none" ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : S_OK};
}

}  // namespace

STDAPI GetAvailableCoreWebView2BrowserVersionString(PCWSTR /*browserExecutableFolder*/, LPWSTR* versionInfo) {
  if (!versionInfo) return E_POINTER;
  *versionInfo = nullptr;
  const Answer answer = InstalledRuntime();
  if (const auto& transcript = fake::Role().transcript) {
    // One write, so that the lines of processes checking at the same time
    // do not interleave.
    std::string lines =
        vtl::fake::FormatLine({"check", std::to_string(GetCurrentProcessId()), answer.version.value_or("(none)")});
    for (const char* name : fake::kWebView2Variables)
      lines += vtl::fake::FormatLine({"check-env", name, EnvironmentValue(name).value_or("(unset)")});
    vtl::fake::AppendLines(*transcript, lines);
  }
  if (!answer.version) return answer.result;

  const std::wstring version = vtl::win32::Widen(*answer.version);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((version.size() + 1) * sizeof(wchar_t)));
  if (!copy) return E_OUTOFMEMORY;
  version.copy(copy, version.size());
  copy[version.size()] = L'\0';
  *versionInfo = copy;
  return S_OK;
}

