// The test tools themselves: the transcript format, the fake WebView2 loader
// loaded into this process, and the test installer as a program.

#include <WebView2.h>

#include <algorithm>
#include <fstream>

#include "e2e_fixture.h"
#include "win32/text.h"

namespace vtl::e2e {
namespace {

TEST(Transcript, EveryFieldComesBackAsWritten) {
  for (const std::string value : {"plain", "", "tab\there", "C:\\data\\Win64\\", "line\r\nbreak", "\\t is no tab"}) {
    const std::string line = fake::FormatLine({"kind", value, "last"});
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    EXPECT_EQ(fake::ParseLine(line), (fake::TranscriptLine{"kind", value, "last"})) << line;
  }
  EXPECT_EQ(fake::FormatLine({"env", "C:\\a\tb"}), "env\tC:\\\\a\\tb\n");
}

// Sets variables of this process for the life of the object.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const Environment& changes) {
    for (const auto& [name, value] : changes) {
      const std::wstring wide = win32::Widen(name);
      wchar_t old[32768];
      const DWORD n = GetEnvironmentVariableW(wide.c_str(), old, static_cast<DWORD>(std::size(old)));
      saved_.emplace_back(wide, n ? std::optional<std::wstring>(std::wstring(old, n)) : std::nullopt);
      SetEnvironmentVariableW(wide.c_str(), value ? win32::Widen(*value).c_str() : nullptr);
    }
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

// The fake, loaded afresh: each load decides anew which role its process plays.
class LoadedFake {
 public:
  LoadedFake() : module_(LoadLibraryW(FakeLoaderDll().c_str())) {}
  ~LoadedFake() {
    if (module_) FreeLibrary(module_);
  }
  LoadedFake(const LoadedFake&) = delete;
  LoadedFake& operator=(const LoadedFake&) = delete;

  explicit operator bool() const { return module_ != nullptr; }
  template <class F>
  F* Export(const char* name) const {
    return reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  // The version the fake reports, or nothing; the HRESULT in `result`.
  std::optional<std::string> Version(HRESULT& result) const {
    auto* get = Export<decltype(GetAvailableCoreWebView2BrowserVersionString)>(
        "GetAvailableCoreWebView2BrowserVersionString");
    LPWSTR version = nullptr;
    result = get(nullptr, &version);
    if (!version) return std::nullopt;
    const std::string text = win32::Narrow(version);
    CoTaskMemFree(version);
    return text;
  }

 private:
  HMODULE module_;
};

class FakeLoader : public EndToEnd {};

TEST_F(FakeLoader, ReportsTheVersionTheTestAsksFor) {
  const std::string marker = Utf8(dir_ / "installed.marker");
  struct Case {
    std::optional<std::string> requested;
    bool installed;  // the marker exists
    std::optional<std::string> version;
    HRESULT result;
  };
  const Case cases[] = {
      {std::nullopt, false, "120.0.2210.91", S_OK},
      {"99.0.1.2", false, "99.0.1.2", S_OK},
      {"none", false, std::nullopt, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"null", false, std::nullopt, S_OK},
      {"none", true, "120.0.2210.91", S_OK},
      {"null", true, "120.0.2210.91", S_OK},
  };
  for (const auto& c : cases) {
    const std::string label = c.requested.value_or("(unset)") + (c.installed ? " installed" : "");
    if (c.installed) std::ofstream(PathFromUtf8(marker)) << "installed";
    const ScopedEnvironment env(FakeEnvironment(
        {{"VTL_FAKE_WEBVIEW2_VERSION", c.requested}, {"VTL_FAKE_WEBVIEW2_INSTALLED_MARKER", marker}}));
    const LoadedFake fake;
    ASSERT_TRUE(fake) << label;
    HRESULT result = E_FAIL;
    EXPECT_EQ(fake.Version(result), c.version) << label;
    EXPECT_EQ(result, c.result) << label;
    fs::remove(PathFromUtf8(marker));

    const auto checks = ReadTranscript().Of("check");
    ASSERT_FALSE(checks.empty()) << label;
    EXPECT_EQ(checks.back(), (fake::TranscriptLine{"check", std::to_string(GetCurrentProcessId()),
                                                   c.version.value_or("(none)")}))
        << label;
  }
  const LoadedFake fake;
  for (const char* name : {"CreateCoreWebView2Environment", "CreateCoreWebView2EnvironmentWithOptions"})
    EXPECT_NE(fake.Export<void>(name), nullptr) << name;
}

TEST_F(FakeLoader, CheckRecordsTheProcessAndTheWebView2Variables) {
  const ScopedEnvironment env(FakeEnvironment({{"WEBVIEW2_USER_DATA_FOLDER", "C:\\data\\app\\Win64\\"},
                                               {"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", "--a\t--b"},
                                               {"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", std::nullopt},
                                               {"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", ""}}));
  const LoadedFake fake;
  ASSERT_TRUE(fake);
  HRESULT result;
  fake.Version(result);

  const auto t = ReadTranscript();
  const std::string pid = std::to_string(GetCurrentProcessId());
  ASSERT_EQ(t.lines.size(), 6u);
  EXPECT_EQ(t.lines[0].at(0), "process");
  EXPECT_EQ(t.lines[0].at(1), pid);
  EXPECT_EQ(t.lines[0].at(2), win32::Narrow(GetCommandLineW()));
  EXPECT_EQ(t.lines[1].at(0), "check");
  EXPECT_EQ(t.EnvironmentAtCheck(pid), (std::map<std::string, std::string>{
                                           {"WEBVIEW2_USER_DATA_FOLDER", "C:\\data\\app\\Win64\\"},
                                           {"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", "--a\t--b"},
                                           {"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", "(unset)"},
                                           {"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", ""},
                                       }));
  EXPECT_NE(ReadFile(PathFromUtf8(LogPath())).find("check-env\tWEBVIEW2_USER_DATA_FOLDER\tC:\\\\data\\\\app\\\\Win64\\\\\n"),
            std::string::npos);
}

TEST_F(FakeLoader, OnlyTheProcessThatTakesTheScenarioWritesTheLogItself) {
  const fs::path scenario = dir_ / "scenario.txt";
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string ownLog = LogPath() + "." + pid;
  std::ofstream(scenario) << "wait 10\n";
  const ScopedEnvironment env(FakeEnvironment({{"VTL_FAKE_SCENARIO", Utf8(scenario)}}));
  auto check = [] {
    const LoadedFake fake;
    ASSERT_TRUE(fake);
    HRESULT result;
    fake.Version(result);
  };
  // The runtime loads the library anew for every check: the process keeps
  // the scenario it took.
  check();
  ASSERT_EQ(GetModuleHandleW(L"WebView2LoaderWin64.dll"), nullptr);
  check();
  EXPECT_FALSE(fs::exists(scenario));
  EXPECT_TRUE(fs::exists(dir_ / "scenario.txt.taken"));
  EXPECT_EQ(ReadTranscript().CheckPids(), (std::vector<std::string>{pid, pid}));
  EXPECT_EQ(ReadTranscript().Of("process").size(), 1u);
  EXPECT_FALSE(fs::exists(PathFromUtf8(ownLog)));

  // A process started from this one inherits the variables, its parent's
  // pid among them, and finds the scenario taken.
  const ScopedEnvironment child(Environment{{"VTL_FAKE_PROCESS", "0 owner"}});
  check();
  EXPECT_EQ(ReadTranscript().CheckPids(), (std::vector<std::string>{pid, pid}));
  const Transcript own{fake::ReadTranscript(ownLog)};
  EXPECT_EQ(own.CheckPids(), std::vector<std::string>{pid});
  EXPECT_EQ(own.Of("process").size(), 1u);
}

class TestInstaller : public EndToEnd {};

TEST_F(TestInstaller, LogsItsArgumentsAndInstallsUnlessToldToFail) {
  const std::string marker = Utf8(dir_ / "installed.marker");
  std::vector<std::pair<bool, Process>> runs;
  for (bool fail : {false, true}) {
    const std::string m = marker + (fail ? ".failed" : "");
    runs.emplace_back(fail, Start(TestInstallerExe(),
                                  FakeEnvironment({{"VTL_FAKE_WEBVIEW2_INSTALLED_MARKER", m},
                                                   {"VTL_TEST_INSTALLER_FAIL", fail ? std::optional<std::string>("1")
                                                                                    : std::nullopt}}),
                                  {"/silent", "/install"}));
  }
  for (auto& [fail, process] : runs) {
    EXPECT_EQ(process.WaitForExit(), 0u) << fail;
    EXPECT_EQ(fs::exists(PathFromUtf8(marker + (fail ? ".failed" : ""))), !fail);
  }
  const auto t = ReadTranscript();
  EXPECT_EQ(t.Of("installer"), (std::vector<fake::TranscriptLine>{{"installer", "/silent /install"},
                                                                  {"installer", "/silent /install"}}));
  ASSERT_EQ(t.Of("installer-path").size(), 2u);
  EXPECT_TRUE(fs::equivalent(PathFromUtf8(t.Of("installer-path")[0][1]), TestInstallerExe()));
}

}  // namespace
}  // namespace vtl::e2e
