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

// Ends the browser even when this process is killed. The shell watches a
// heartbeat file that a thread of this process touches every second, and
// ends the browser once it is gone or older than ten seconds. (Wine does not
// reliably hand a pipe to a Unix child as its standard input, so the end of
// a pipe cannot tell.) The browser runs under a second shell in a session
// and process group of its own (setsid), which writes the group's id to the
// pid file and the browser's exit status to its log: ending the group ends
// the browser's helper processes too. The first shell outlives signals sent
// to the group of the program that started it (timeout(1) sends them
// there), so that it still ends the browser.
constexpr char kWrapper[] =
    "pidfile=$1; log=$2; beat=$3; shift 3; "
    "setsid /bin/sh -c 'echo $$ >\"$0\"; \"$@\" </dev/null; echo \"browser exited with status $?\"' "
    "\"$pidfile\" \"$@\" >\"$log\" 2>&1 & "
    "trap '' TERM INT HUP; while [ ! -s \"$pidfile\" ]; do sleep 0.05; done; g=$(cat \"$pidfile\"); "
    "while [ -e \"$beat\" ] && [ $(( $(date +%s) - $(stat -c %Y \"$beat\" 2>/dev/null || echo 0) )) -lt 10 ]; "
    "do sleep 1; done; kill -TERM -$g 2>/dev/null; sleep 2; kill -KILL -$g 2>/dev/null";

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

void Browser::StartHeartbeat(const std::wstring& file) {
  beatFile_ = file;
  stop_ = false;
  const HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  beat_ = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto* self = static_cast<Browser*>(p);
        while (!self->stop_) {
          const HANDLE f = CreateFileW(self->beatFile_.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, 0,
                                       nullptr);
          if (f != INVALID_HANDLE_VALUE) {
            FILETIME now{};
            GetSystemTimeAsFileTime(&now);
            SetFileTime(f, nullptr, nullptr, &now);
            CloseHandle(f);
          }
          for (int i = 0; i < 10 && !self->stop_; ++i) Sleep(100);
        }
        return 0;
      },
      this, 0, nullptr);
}

std::optional<std::pair<int, std::string>> Browser::ListeningPort(const std::wstring& profile) {
  std::string text;
  if (!ReadWholeFile(profile + L"\\DevToolsActivePort", text)) return std::nullopt;
  std::istringstream lines(text);
  std::string port, path;
  if (!std::getline(lines, port) || !std::getline(lines, path) || path.empty() ||
      port.find_first_not_of("0123456789") != std::string::npos || port.empty())
    return std::nullopt;
  return std::make_pair(std::stoi(port), path);
}

bool Browser::Launch(const std::wstring& profile, const std::vector<std::string>& launcher,
                     const std::vector<std::string>& extraArguments, std::string& error) {
  const auto program = BrowserProgram();
  if (!program) return error = "no browser", false;
  CreateFolders(profile);
  profile_ = profile;
  const std::string unixProfile = UnixPath(profile);
  if (unixProfile.empty()) return error = "no Unix path for " + Narrow(profile), false;
  const std::wstring pidFile = profile + L"\\browser.pid";
  std::vector<std::string> arguments = {"-c",
                                        kWrapper,
                                        "vtl-fake-browser",
                                        UnixPath(pidFile),
                                        UnixPath(profile + L"\\browser.log"),
                                        UnixPath(profile + L"\\browser.beat")};
  arguments.insert(arguments.end(), launcher.begin(), launcher.end());
  arguments.insert(arguments.end(), {*program,
                                        "--remote-debugging-port=0",
                                        "--user-data-dir=" + unixProfile,
                                        "--no-first-run",
                                        "--no-default-browser-check",
                                        "--no-sandbox",
                                        "--allow-file-access-from-files",
                                        "--mute-audio",
                                        "--hide-scrollbars"});
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  arguments.push_back("about:blank");

  // Now and then the shell under Wine never starts the browser (no pid, no
  // log): a few attempts, each given time enough on a busy machine.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0 && Role().transcript) vtl::fake::AppendLine(*Role().transcript, {"engine-launch-retry", error});
    if (StartOnce(profile, arguments, error)) return true;
    End();
  }
  return false;
}

bool Browser::StartOnce(const std::wstring& profile, const std::vector<std::string>& arguments, std::string& error) {
  const std::wstring portFile = profile + L"\\DevToolsActivePort";
  const std::wstring pidFile = profile + L"\\browser.pid";
  DeleteFileW(portFile.c_str());
  DeleteFileW(pidFile.c_str());
  StartHeartbeat(profile + L"\\browser.beat");
  std::wstring line = Quote("/bin/sh");
  for (const auto& a : arguments) line += L" " + Quote(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const BOOL started =
      CreateProcessW(L"/bin/sh", line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  if (!started) return error = "cannot start /bin/sh, error " + std::to_string(GetLastError()), false;
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);

  const ULONGLONG deadline = GetTickCount64() + 25000;
  std::string text;
  while (GetTickCount64() < deadline) {
    if (!pid_ && ReadWholeFile(pidFile, text) && !text.empty() && text.back() == '\n') {
      pid_ = std::strtoul(text.c_str(), nullptr, 10);
      if (const auto sweep = EnvironmentValue("VTL_FAKE_BROWSER_PIDS"); sweep && !sweep->empty())
        vtl::fake::AppendLine(*sweep, {std::to_string(pid_)});
    }
    if (const auto listening = ListeningPort(profile)) {
      port_ = listening->first;
      path_ = listening->second;
      return true;
    }
    Sleep(20);
  }
  std::string log;
  const bool portOpened = ReadWholeFile(portFile, text);
  log = "port file " + std::string(portOpened ? "read: " + text : "not read, error " + std::to_string(GetLastError())) + "; ";
  std::string browserLog;
  ReadWholeFile(profile + L"\\browser.log", browserLog);
  log += browserLog;
  error = "the browser did not listen within 25 s (" + std::string(pid_ ? "started" : "no pid") +
          ")" + (log.empty() ? std::string() : ": " + log.substr(0, 400));
  return false;
}

std::string Browser::LogNote(const std::string& prefix) const {
  std::string log;
  if (!ReadWholeFile(profile_ + L"\\browser.log", log)) return {};
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(prefix)) return line.substr(prefix.size());
  return {};
}

bool Browser::WaitForExit(unsigned long ms) const {
  if (!pid_) return true;
  const ULONGLONG deadline = GetTickCount64() + ms;
  std::string log;
  do {
    if (ReadWholeFile(profile_ + L"\\browser.log", log) && log.find("browser exited with status") != std::string::npos)
      return true;
    Sleep(50);
  } while (GetTickCount64() < deadline);
  return false;
}

void Browser::End() {
  if (pid_) {
    StartUnixProgram("/bin/kill", {"-TERM", "--", "-" + std::to_string(pid_)});
    pid_ = 0;
  }
  if (beat_) {
    stop_ = true;
    WaitForSingleObject(beat_, 3000);
    CloseHandle(beat_);
    beat_ = nullptr;
  }
}

}  // namespace fake::engine
