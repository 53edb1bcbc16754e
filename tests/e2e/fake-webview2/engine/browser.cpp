#include "engine/browser.h"

#include <fstream>
#include <sstream>

#include "fake_loader.h"
#include "transcript.h"
#include "win32/text.h"

namespace fake::engine {
namespace {

using vtl::win32::Narrow;
using vtl::win32::Widen;

// An argument for a Windows command line, which Wine splits again into the
// Unix program's argv with the rules of CommandLineToArgvW.
std::wstring Quote(const std::string& argument) {
  const std::wstring wide = Widen(argument);
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (const wchar_t c : wide) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') out.append(slashes * 2 + 1, L'\\');
    else out.append(slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

bool ReadWholeFile(const std::wstring& path, std::string& out) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  out.clear();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(file);
  return true;
}

void CreateFolders(const std::wstring& folder) {
  for (size_t at = folder.find_first_of(L"\\/", 3); at != std::wstring::npos; at = folder.find_first_of(L"\\/", at + 1))
    CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
}

// Ends the browser even when this process is killed: the shell waits on
// its standard input and kills the browser once the pipe is closed.
// The browser runs in a session and process group of its own (setsid),
// whose id is its pid: ending the group ends its helper processes too. The
// shell outlives signals sent to the group of the program that started it
// (timeout(1) sends them there), so that it still ends the browser.
constexpr char kWrapper[] =
    "pidfile=$1; log=$2; shift 2; setsid \"$@\" </dev/null >\"$log\" 2>&1 & b=$!; trap '' TERM INT HUP; echo $b >\"$pidfile\"; "
    "cat >/dev/null; kill -TERM -$b 2>/dev/null; sleep 2; kill -KILL -$b 2>/dev/null";

}  // namespace

std::optional<std::string> BrowserProgram() {
  auto program = EnvironmentValue("VTL_FAKE_BROWSER");
  if (!program || program->empty()) return std::nullopt;
  return program;
}

bool BrowserMode() {
  static const bool on = BrowserProgram().has_value();
  return on;
}

std::string UnixPath(const std::wstring& windowsPath) {
  using Convert = char*(CDECL*)(LPCWSTR);
  static const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return {};
  char* unix = convert(windowsPath.c_str());
  if (!unix) return {};
  std::string path = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

bool StartUnixProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::wstring line = Quote(program);
  for (const auto& a : arguments) line += L" " + Quote(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(Widen(program).c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return false;
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  return true;
}

std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false, any = false;
  for (const char c : text) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) out.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) out.push_back(current);
  return out;
}

Browser::~Browser() { End(); }

bool Browser::Launch(const std::wstring& profile, const std::vector<std::string>& extraArguments, std::string& error) {
  const auto program = BrowserProgram();
  if (!program) return error = "no browser", false;
  CreateFolders(profile);
  const std::string unixProfile = UnixPath(profile);
  if (unixProfile.empty()) return error = "no Unix path for " + Narrow(profile), false;
  const std::wstring portFile = profile + L"\\DevToolsActivePort";
  const std::wstring pidFile = profile + L"\\browser.pid";
  DeleteFileW(portFile.c_str());
  DeleteFileW(pidFile.c_str());

  std::vector<std::string> arguments = {"-c",
                                        kWrapper,
                                        "vtl-fake-browser",
                                        UnixPath(pidFile),
                                        UnixPath(profile + L"\\browser.log"),
                                        *program,
                                        "--remote-debugging-port=0",
                                        "--user-data-dir=" + unixProfile,
                                        "--no-first-run",
                                        "--no-default-browser-check",
                                        "--no-sandbox",
                                        "--allow-file-access-from-files",
                                        "--mute-audio",
                                        "--hide-scrollbars"};
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  arguments.push_back("about:blank");

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  if (!CreatePipe(&readEnd, &pipe_, &inherit, 0)) return error = "CreatePipe failed", false;
  SetHandleInformation(pipe_, HANDLE_FLAG_INHERIT, 0);
  std::wstring line = Quote("/bin/sh");
  for (const auto& a : arguments) line += L" " + Quote(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = readEnd;
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  const BOOL started =
      CreateProcessW(L"/bin/sh", line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(readEnd);
  if (!started) return error = "cannot start /bin/sh, error " + std::to_string(GetLastError()), false;
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);

  const ULONGLONG deadline = GetTickCount64() + 30000;
  std::string text;
  while (GetTickCount64() < deadline) {
    if (!pid_ && ReadWholeFile(pidFile, text) && !text.empty() && text.back() == '\n') {
      pid_ = std::stoul(text);
      if (const auto sweep = EnvironmentValue("VTL_FAKE_BROWSER_PIDS"); sweep && !sweep->empty())
        vtl::fake::AppendLine(*sweep, {std::to_string(pid_)});
    }
    if (ReadWholeFile(portFile, text)) {
      std::istringstream lines(text);
      std::string port, path;
      if (std::getline(lines, port) && std::getline(lines, path) && !path.empty()) {
        port_ = std::stoi(port);
        path_ = path;
        return true;
      }
    }
    Sleep(20);
  }
  std::string log;
  ReadWholeFile(profile + L"\\browser.log", log);
  error = "the browser did not listen within 30 s" + (log.empty() ? std::string() : ": " + log.substr(0, 400));
  End();
  return false;
}

void Browser::End() {
  if (pid_) {
    StartUnixProgram("/bin/kill", {"-TERM", "--", "-" + std::to_string(pid_)});
    pid_ = 0;
  }
  if (pipe_) {
    CloseHandle(pipe_);
    pipe_ = nullptr;
  }
}

}  // namespace fake::engine
