#include "e2e_fixture.h"

#include <shlobj.h>
#include <tlhelp32.h>
#include <zip.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <thread>

#include "core/exe_utils.h"
#include "core/package_password.h"
#include "packer.h"
#include "win32/text.h"

namespace vtl::e2e {
namespace {

constexpr Milliseconds kPoll{100};

}  // namespace

fs::path BuildPath(const char* path) {
  using ToDos = LPWSTR(CDECL*)(LPCSTR);
  struct HeapFreer {
    void operator()(wchar_t* p) const { HeapFree(GetProcessHeap(), 0, p); }
  };
  const auto toDos = reinterpret_cast<ToDos>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (path[0] == '/' && toDos) {
    const std::unique_ptr<wchar_t, HeapFreer> dos(toDos(path));
    if (dos) return fs::path(dos.get());
  }
  return PathFromUtf8(path);
}

namespace {

void WriteFile(const fs::path& p, std::string_view bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + Utf8(p));
}

std::wstring EnvironmentBlock(const Environment& changes) {
  std::vector<std::pair<std::wstring, std::wstring>> vars;
  struct Strings {
    LPWCH p = GetEnvironmentStringsW();
    ~Strings() { FreeEnvironmentStringsW(p); }
  } strings;
  for (const wchar_t* s = strings.p; *s; s += wcslen(s) + 1) {
    const std::wstring_view entry(s);
    const size_t eq = entry.find(L'=', 1);  // "=C:=C:\dir" names start with "="
    if (eq == std::wstring_view::npos) continue;
    vars.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
  }
  for (const auto& [name, value] : changes) {
    const std::wstring wideName = win32::Widen(name);
    std::erase_if(vars, [&](const auto& v) { return _wcsicmp(v.first.c_str(), wideName.c_str()) == 0; });
    if (value) vars.emplace_back(wideName, win32::Widen(*value));
  }
  std::wstring block;
  for (const auto& [name, value] : vars) block += name + L"=" + value + L'\0';
  block += L'\0';
  return block;
}

std::wstring ImagePathOf(DWORD processId) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  wchar_t path[MAX_PATH * 4];
  DWORD size = static_cast<DWORD>(std::size(path));
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return {};
  return std::wstring(path, size);
}

bool SamePath(const std::wstring& a, const fs::path& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool IsUnder(const std::wstring& path, const fs::path& folder) {
  const std::wstring prefix = folder.wstring() + L"\\";
  return path.size() > prefix.size() && _wcsnicmp(path.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// Ends every process whose program lies in `folder`: copies of the runtime a
// failed test left running, relaunches included.
void EndProcessesUnder(const fs::path& folder) {
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() || !IsUnder(ImagePathOf(entry.th32ProcessID), folder)) continue;
    const UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (process && TerminateProcess(process.get(), 99)) WaitForSingleObject(process.get(), 10000);
  }
}

// Files may stay open for a moment after their process ended.
void RemoveTree(const fs::path& p) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::error_code ec;
    fs::remove_all(p, ec);
    if (!fs::exists(p, ec)) return;
    Sleep(100);
  }
  ADD_FAILURE() << "could not remove " << Utf8(p);
}

// The tests need windows. Without a display Wine creates none, and every
// test would only wait for its windows until the time is up.
class DisplayCheck : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::unique_ptr<HWND__, decltype(&DestroyWindow)> window(
        CreateWindowExW(0, L"STATIC", L"vtl-e2e display check", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                        nullptr),
        &DestroyWindow);
    ASSERT_TRUE(window) << "no window can be created: the tests need an X display. Start Xvfb, export DISPLAY, and "
                           "end the prefix's Wine session first (wineserver -k): it keeps the display it started with.";
  }
};
[[maybe_unused]] ::testing::Environment* const kDisplayCheck = ::testing::AddGlobalTestEnvironment(new DisplayCheck);

}  // namespace

std::string Utf8(const fs::path& p) {
  const auto s = p.u8string();
  return std::string(s.begin(), s.end());
}

fs::path PathFromUtf8(std::string_view s) { return fs::path(std::u8string(s.begin(), s.end())); }

fs::path RuntimeExe() { return BuildPath(VTL_E2E_RUNTIME); }
fs::path FakeLoaderDll() { return BuildPath(VTL_E2E_FAKE_LOADER); }
fs::path TestInstallerExe() { return BuildPath(VTL_E2E_TEST_INSTALLER); }
fs::path ExampleDir(std::string_view name) { return BuildPath((VTL_E2E_EXAMPLES "/" + std::string(name)).c_str()); }
fs::path TestChildExe() { return BuildPath(VTL_E2E_TEST_CHILD); }

fs::path LocalAppDataDir() {
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return fs::path(path);
}

// Process

Process Process::Start(const fs::path& exe, const std::vector<std::string>& arguments, const Environment& env,
                       const fs::path& workingDir) {
  std::vector<std::string> all{Utf8(exe)};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::wstring commandLine = win32::Widen(uidriver::QuoteCommandLine(all));
  std::wstring block = EnvironmentBlock(env);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  Process p;
  // Wine now and then refuses to start a program it has only just seen
  // written (ERROR_INTERNAL_ERROR); a moment later it starts.
  DWORD error = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                       block.data(), workingDir.c_str(), &startup, &info)) {
      error = 0;
      break;
    }
    error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR) break;
    Sleep(200);
  }
  if (error) {
    ADD_FAILURE() << "cannot start " << Utf8(exe) << ": error " << error;
    return p;
  }
  const UniqueHandle thread(info.hThread);
  p.handle_ = UniqueHandle(info.hProcess);
  p.id_ = info.dwProcessId;
  return p;
}

Process Process::Open(DWORD processId) {
  Process p;
  p.handle_ = UniqueHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, processId));
  if (p.handle_) p.id_ = processId;
  return p;
}

bool Process::Running() const { return handle_ && WaitForSingleObject(handle_.get(), 0) == WAIT_TIMEOUT; }

std::optional<DWORD> Process::WaitForExit(Milliseconds timeout) const {
  if (!handle_ || WaitForSingleObject(handle_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
    return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(handle_.get(), &code);
  return code;
}

Process::~Process() {
  if (Running()) {
    TerminateProcess(handle_.get(), 99);
    WaitForSingleObject(handle_.get(), 10000);
  }
}

bool StartWithUnixLocale(const fs::path& exe, const Environment& env, std::string_view unixLocale,
                         const fs::path& workingDir) {
  wchar_t loader[MAX_PATH * 4];
  const DWORD n = GetEnvironmentVariableW(L"WINELOADER", loader, static_cast<DWORD>(std::size(loader)));
  if (n == 0 || n >= std::size(loader)) return false;
  const std::string unixLoader = win32::Narrow(std::wstring_view(loader, n));
  Environment withLocale = env;
  withLocale.emplace_back("LC_ALL", std::string(unixLocale));
  // Wine runs a Unix program with the Windows environment as its Unix one,
  // and returns no process handle for it. The loader finds itself through
  // its first argument, which must be its Unix path.
  const fs::path wineLoader = BuildPath(unixLoader.c_str());
  std::wstring commandLine = win32::Widen(uidriver::QuoteCommandLine({unixLoader, Utf8(exe)}));
  std::wstring block = EnvironmentBlock(withLocale);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(wineLoader.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      block.data(), workingDir.c_str(), &startup, &info))
    return false;
  const UniqueHandle thread(info.hThread), process(info.hProcess);
  return true;
}

bool WaitUntil(const std::function<bool()>& done, Milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

std::optional<WindowInfo> WaitForWindowOf(const Process& process, uidriver::WindowQuery query,
                                          const std::function<bool(const WindowInfo&)>& accept, Milliseconds timeout) {
  if (!process) return std::nullopt;
  query.processId = process.id();
  std::optional<WindowInfo> found;
  WaitUntil(
      [&] {
        for (auto& w : uidriver::FindTopLevelWindows(query))
          if (!accept || accept(w)) {
            found = std::move(w);
            return true;
          }
        return !process.Running();
      },
      timeout);
  return found;
}

std::optional<WindowInfo> WaitForWindowShowing(const Process& process, std::string_view text, Milliseconds timeout) {
  return WaitForWindowOf(
      process, {},
      [&](const WindowInfo& w) {
        for (const auto& t : uidriver::ControlTexts(w.handle))
          if (t == text) return true;
        return false;
      },
      timeout);
}

bool IsPasswordPrompt(HWND window) { return uidriver::FindControl(window, "Edit").has_value(); }

std::optional<WindowInfo> WaitForPasswordPrompt(const Process& process, const std::string& appName,
                                                Milliseconds timeout) {
  return WaitForWindowOf(process, uidriver::WindowQuery().WithCaption(appName), [](const WindowInfo& w) { return IsPasswordPrompt(w.handle); },
                         timeout);
}

std::optional<WindowInfo> WaitForMainWindow(const Process& process, const std::string& appName, Milliseconds timeout) {
  return WaitForWindowOf(process, uidriver::WindowQuery().WithCaption(appName), [](const WindowInfo& w) { return !IsPasswordPrompt(w.handle); },
                         timeout);
}

bool EnterPassword(const Process& process, const std::string& appName, const std::string& password) {
  // A main window where the prompt belongs fails at once, not at the timeout.
  const auto first = WaitForWindowOf(process, uidriver::WindowQuery().WithCaption(appName));
  if (!first) return false;
  const auto prompt = WaitForPasswordPrompt(process, appName, Milliseconds(1000));
  if (!prompt) return false;
  uidriver::TypeText(uidriver::FindControl(prompt->handle, "Edit")->handle, password);
  return uidriver::WaitUntilGone(prompt->handle, kTimeout);
}

std::vector<std::string> WatchWindows(const Process& process, const std::function<bool()>& done, Milliseconds timeout) {
  std::vector<std::string> seen;
  WaitUntil(
      [&] {
        for (const auto& w : uidriver::FindTopLevelWindows(uidriver::WindowQuery().OfProcess(process.id()))) {
          const std::string entry = w.text + (IsPasswordPrompt(w.handle) ? " (prompt)" : "");
          if (std::find(seen.begin(), seen.end(), entry) == seen.end()) seen.push_back(entry);
        }
        return (done && done()) || !process.Running();
      },
      timeout);
  return seen;
}

std::optional<WindowInfo> WaitForWindowOfImage(const fs::path& image, const std::string& caption, Milliseconds timeout) {
  std::optional<WindowInfo> found;
  WaitUntil(
      [&] {
        for (auto& w : uidriver::FindTopLevelWindows(uidriver::WindowQuery().WithCaption(caption)))
          if (SamePath(ImagePathOf(w.processId), image)) {
            found = std::move(w);
            return true;
          }
        return false;
      },
      timeout);
  return found;
}

// Dialog

bool Dialog::Shows(std::string_view text) const {
  for (const auto& t : texts)
    if (t == text) return true;
  return false;
}

bool Dialog::Mentions(std::string_view fragment) const {
  for (const auto& t : texts)
    if (t.find(fragment) != std::string::npos) return true;
  return false;
}

Dialog ReadDialog(HWND window) {
  // A dialog may still be labelling its buttons when it becomes visible:
  // read until two readings agree.
  Dialog last;
  for (int attempt = 0; attempt < 20; ++attempt) {
    Dialog d;
    d.handle = window;
    GetWindowThreadProcessId(window, &d.processId);
    d.caption = uidriver::WindowText(window);
    d.texts = uidriver::ControlTexts(window);
    d.buttons = uidriver::ButtonLabels(window);
    if (attempt > 0 && d.caption == last.caption && d.texts == last.texts && d.buttons == last.buttons) return d;
    last = std::move(d);
    std::this_thread::sleep_for(kPoll);
  }
  return last;
}

std::optional<Dialog> WaitForDialog(const Process& process, const std::string& caption, Milliseconds timeout) {
  const auto window = WaitForWindowOf(process, uidriver::WindowQuery().WithCaption(caption), {}, timeout);
  if (!window) return std::nullopt;
  return ReadDialog(window->handle);
}

std::ostream& operator<<(std::ostream& out, const Dialog& d) {
  out << "dialog \"" << d.caption << "\" texts [";
  for (const auto& t : d.texts) out << " \"" << t << "\"";
  out << " ] buttons [";
  for (const auto& b : d.buttons) out << " \"" << b << "\"";
  return out << " ]";
}

// Transcript

std::vector<fake::TranscriptLine> Transcript::Of(std::string_view kind) const {
  std::vector<fake::TranscriptLine> found;
  for (const auto& line : lines)
    if (!line.empty() && line[0] == kind) found.push_back(line);
  return found;
}

std::vector<std::string> Transcript::CheckPids() const {
  std::vector<std::string> pids;
  for (const auto& line : Of("check"))
    if (line.size() >= 3) pids.push_back(line[1]);
  return pids;
}

std::map<std::string, std::string> Transcript::EnvironmentAtCheck(const std::string& pid) const {
  std::map<std::string, std::string> env;
  bool ours = false;
  for (const auto& line : lines) {
    if (line.size() >= 3 && line[0] == "check") {
      ours = line[1] == pid;
      if (ours) env.clear();
    } else if (ours && line.size() >= 3 && line[0] == "check-env") {
      env[line[1]] = line[2];
    }
  }
  return env;
}

// EndToEnd

void EndToEnd::SetUp() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
  dir_ = fs::path(std::wstring(temp, n)) / PathFromUtf8("vtl-e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                        test->test_suite_name() + "-" + test->name());
  RemoveTree(dir_);
  fs::create_directories(dir_);
}

void EndToEnd::TearDown() {
  EndProcessesUnder(dir_);
  // The fake holds every program to WebView2's rules: a call from another
  // thread, a navigation before the document script was ready, or a reply
  // that is no JSON is a fault of the runtime, whichever test met it.
  if (!rulesMayBreak_) {
    static constexpr std::string_view kBroken[] = {"wrong-thread", "document-script-missed", "post-refused",
                                                   "frame-post-refused"};
    for (const auto& name : Listing(dir_)) {
      if (name.rfind("transcript", 0) != 0) continue;
      for (const auto& line : fake::ReadTranscript(Utf8(dir_ / PathFromUtf8(name)))) {
        if (std::find(std::begin(kBroken), std::end(kBroken), line[0]) == std::end(kBroken)) continue;
        std::string text;
        for (const auto& field : line) text += (text.empty() ? "" : " | ") + field;
        ADD_FAILURE() << name << ": a WebView2 rule broken: " << text;
      }
    }
  }
  for (const auto& id : appIds_) RemoveTree(DataDirOf(id));
  RemoveTree(dir_);
}

std::string EndToEnd::NewAppId(std::string_view label) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string id = "vtl-e2e." + std::string(test->name()) + "." + std::string(label) + "." +
                   std::to_string(GetCurrentProcessId());
  appIds_.push_back(id);
  RemoveTree(DataDirOf(id));
  return id;
}

std::string EndToEnd::Settings(const std::string& appId, const std::string& name, std::string_view more) {
  return "[App]\r\nID=" + appId + "\r\nName=" + name + "\r\nDirName=app\r\n" + std::string(more);
}

fs::path EndToEnd::Package(const std::string& fileName, const std::string& settings, bool withInstaller) {
  return PackageWithFiles(fileName, settings, {}, withInstaller);
}

fs::path EndToEnd::PackageWithFiles(const std::string& fileName, const std::string& settings,
                                    const std::vector<std::pair<std::string, std::string>>& files,
                                    bool withInstaller) {
  const fs::path project = dir_ / PathFromUtf8("project-" + fileName);
  WriteFile(project / "vtl.ini", settings);
  WriteFile(project / "app" / "index.html", "<!doctype html><title>e2e</title><p>end to end</p>\n");
  for (const auto& [name, bytes] : files) WriteFile(project / PathFromUtf8(name), bytes);
  pack::PackOptions options;
  options.projectDir = project;
  options.output = dir_ / PathFromUtf8(fileName);
  options.runtime = RuntimeExe();
  options.loader = FakeLoaderDll();
  if (withInstaller) options.installer = TestInstallerExe();
  pack::Pack(options);
  return options.output;
}

fs::path EndToEnd::PackageWithEntries(const std::string& fileName,
                                      const std::vector<std::pair<std::string, std::string>>& entries) {
  const fs::path zipPath = dir_ / PathFromUtf8(fileName + ".zip");
  struct Archive {
    zip_t* z = nullptr;
    ~Archive() {
      if (z) zip_discard(z);
    }
  } archive;
  int error = 0;
  archive.z = zip_open(Utf8(zipPath).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!archive.z) throw std::runtime_error("cannot create " + Utf8(zipPath));
  const std::string password(kPackagePassword);
  for (const auto& [name, bytes] : entries) {
    zip_source_t* source = zip_source_buffer(archive.z, bytes.data(), bytes.size(), 0);
    if (!source) throw std::runtime_error("cannot add " + name);
    const zip_int64_t index = zip_file_add(archive.z, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      throw std::runtime_error("cannot add " + name);
    }
    if (zip_file_set_encryption(archive.z, static_cast<zip_uint64_t>(index), ZIP_EM_TRAD_PKWARE, password.c_str()) < 0)
      throw std::runtime_error("cannot encrypt " + name);
  }
  if (zip_close(archive.z) < 0) throw std::runtime_error("cannot write " + Utf8(zipPath));
  archive.z = nullptr;
  const fs::path exe = BareRuntime(fileName);
  TExeUtils(exe).AppendZipToExe(zipPath, exe);
  return exe;
}

fs::path EndToEnd::DamagedPackage(const std::string& fileName) {
  const fs::path exe = BareRuntime(fileName);
  std::ofstream out(exe, std::ios::binary | std::ios::app);
  out << "PK\x03\x04 this is no archive, only bytes after the image";
  return exe;
}

fs::path EndToEnd::BareRuntime(const std::string& fileName) {
  const fs::path exe = dir_ / PathFromUtf8(fileName);
  fs::copy_file(RuntimeExe(), exe, fs::copy_options::overwrite_existing);
  return exe;
}

std::string EndToEnd::ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> EndToEnd::Listing(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(Utf8(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

Environment EndToEnd::FakeEnvironment(Environment more) const {
  Environment env{{"VTL_FAKE_LOG", LogPath()},
                  {"VTL_FAKE_SCENARIO", std::nullopt},
                  {"VTL_FAKE_PROCESS", std::nullopt},
                  {"VTL_FAKE_WEBVIEW2_VERSION", std::nullopt},
                  {"VTL_FAKE_WEBVIEW2_INSTALLED_MARKER", std::nullopt},
                  {"VTL_FAKE_ENVIRONMENT_RESULT", std::nullopt},
                  // No browser unless the test asks for one.
                  {"VTL_FAKE_BROWSER", std::nullopt},
                  {"VTL_FAKE_BROWSER_DISK", std::nullopt},
                  {"VTL_FAKE_BROWSER_PIDS", std::nullopt},
                  // A page that keeps the bridge's default close answer, so
                  // that closing the main window ends the program.
                  {"VTL_FAKE_PAGE_ANSWERS_CLOSE", "1"}};
  env.insert(env.end(), more.begin(), more.end());
  return env;
}

EndToEnd::ScenarioRun EndToEnd::Scenario(const std::string& label, const std::vector<std::string>& commands,
                                         Environment more) const {
  const fs::path scenario = dir_ / PathFromUtf8("scenario-" + label + ".txt");
  std::string text;
  for (const auto& command : commands) text += command + "\n";
  WriteFile(scenario, text);
  ScenarioRun run{Utf8(dir_ / PathFromUtf8("transcript-" + label + ".log")), FakeEnvironment(std::move(more))};
  run.env.emplace_back("VTL_FAKE_SCENARIO", Utf8(scenario));
  run.env.emplace_back("VTL_FAKE_LOG", run.log);
  return run;
}

}  // namespace vtl::e2e
