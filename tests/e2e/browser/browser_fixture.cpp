#include "browser_fixture.h"

#include <fstream>
#include <sstream>

#include "packer.h"
#include "win32/text.h"

namespace vtl::e2e {
namespace {

std::wstring Quote(const std::string& argument) {
  std::wstring out = L"\"";
  for (const wchar_t c : win32::Widen(argument)) {
    if (c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

void WriteText(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

std::string BrowserProgram() {
  wchar_t value[1024];
  const DWORD n = GetEnvironmentVariableW(L"VTL_TEST_BROWSER", value, static_cast<DWORD>(std::size(value)));
  if (n > 0 && n < std::size(value)) return win32::Narrow(std::wstring(value, n));
  return "/usr/bin/chromium-headless-shell";
}

bool StartUnixProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::wstring line = Quote(program);
  for (const auto& a : arguments) line += L" " + Quote(a);
  // The program's standard handles are the null device. Given none, the Unix
  // program shares this process's standard output, and a test's output
  // written after it was lost when that output is a pipe or a file.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const UniqueHandle null(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = null.get();
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(win32::Widen(program).c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return false;
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  return true;
}

void RealEngine::SetUp() {
  EndToEnd::SetUp();
  // Wine maps the Unix root to drive Z:.
  std::string windowsPath = "Z:" + BrowserProgram();
  for (char& c : windowsPath)
    if (c == '/') c = '\\';
  if (GetFileAttributesW(win32::Widen(windowsPath).c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "no browser at " << BrowserProgram() << " (scripts/bootstrap installs it)";
}

// The browsers go first, each by its process group, also when the program
// that started it crashed or still runs: their profiles lie in the data
// folders that the base removes.
void RealEngine::TearDown() {
  std::istringstream pids(ReadFile(PidsPath()));
  bool any = false;
  for (std::string pid; std::getline(pids, pid);) {
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    // Most have ended with their program already: quietly.
    any = StartUnixProgram("/bin/sh", {"-c", "kill -KILL -- -" + pid + " 2>/dev/null"}) || any;
  }
  if (any) Sleep(500);
  EndToEnd::TearDown();
}

Environment RealEngine::BrowserEnvironment(Environment more) const {
  Environment env{{"VTL_FAKE_BROWSER", BrowserProgram()},
                  {"VTL_FAKE_BROWSER_PIDS", PidsPath()},
                  // The real page answers the close query itself.
                  {"VTL_FAKE_PAGE_ANSWERS_CLOSE", std::nullopt}};
  env.insert(env.end(), more.begin(), more.end());
  return env;
}

fs::path RealEngine::Project(const std::string& name, const std::string& settings,
                             const std::vector<std::pair<std::string, std::string>>& files) {
  const fs::path project = dir_ / PathFromUtf8("project-" + name);
  WriteText(project / "vtl.ini", settings);
  for (const auto& [file, bytes] : files) WriteText(project / PathFromUtf8(file), bytes);
  return project;
}

fs::path RealEngine::CopyProject(const fs::path& source, const std::string& name) {
  const fs::path project = dir_ / PathFromUtf8("project-" + name);
  fs::copy(source, project, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  std::string ini = ReadFile(project / "vtl.ini");
  const size_t at = ini.find("ID=");
  if (at != std::string::npos) ini.replace(at, ini.find_first_of("\r\n", at) - at, "ID=" + NewAppId(name));
  WriteText(project / "vtl.ini", ini);
  return project;
}

fs::path RealEngine::Pack(const fs::path& project, const std::string& fileName) {
  pack::PackOptions options;
  options.projectDir = project;
  options.output = dir_ / PathFromUtf8(fileName);
  options.runtime = RuntimeExe();
  options.loader = FakeLoaderDll();
  pack::Pack(options);
  return options.output;
}

std::vector<std::string> RealEngine::Run::Evals() const {
  std::vector<std::string> out;
  for (const auto& line : Read().Of("eval")) out.push_back(line.size() > 1 ? line[1] : "");
  return out;
}

bool RealEngine::Run::WaitForEnd(Milliseconds timeout) const {
  if (WaitUntil([&] { return scenario.Ended() || !process.Running(); }, timeout) && scenario.Ended()) return true;
  // What the program got to, for the failure's message.
  std::string text;
  for (const auto& line : Read().lines) {
    if (line.empty() || line[0] == "document-script" || line[0].rfind("check", 0) == 0) continue;
    for (const auto& field : line) text += field.substr(0, 200) + "\t";
    text += "\n";
  }
  ADD_FAILURE() << "the scenario did not end; the transcript:\n" << text;
  return false;
}

RealEngine::Run RealEngine::StartWithScenario(const fs::path& exe, const std::string& label,
                                              const std::vector<std::string>& commands, Environment more) {
  Run run{Scenario(label, commands, BrowserEnvironment(std::move(more))), {}};
  run.process = Start(exe, run.scenario.env);
  return run;
}

}  // namespace vtl::e2e
