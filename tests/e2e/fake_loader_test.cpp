// The test tools themselves: the transcript format, the fake WebView2 loader
// loaded into this process, and the test installer as a program.

#include <WebView2.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "e2e_fixture.h"
#include "win32/com_ptr.h"
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
                                               {"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", ""},
                                               {"WEBVIEW2_CHANNEL_SEARCH_KIND", std::nullopt},
                                               {"WEBVIEW2_RELEASE_CHANNELS", "2"}}));
  const LoadedFake fake;
  ASSERT_TRUE(fake);
  HRESULT result;
  fake.Version(result);

  const auto t = ReadTranscript();
  const std::string pid = std::to_string(GetCurrentProcessId());
  ASSERT_EQ(t.lines.size(), 8u);
  EXPECT_EQ(t.lines[0].at(0), "process");
  EXPECT_EQ(t.lines[0].at(1), pid);
  EXPECT_EQ(t.lines[0].at(2), win32::Narrow(GetCommandLineW()));
  EXPECT_EQ(t.lines[1].at(0), "check");
  EXPECT_EQ(t.EnvironmentAtCheck(pid), (std::map<std::string, std::string>{
                                           {"WEBVIEW2_USER_DATA_FOLDER", "C:\\data\\app\\Win64\\"},
                                           {"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", "--a\t--b"},
                                           {"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", "(unset)"},
                                           {"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", ""},
                                           {"WEBVIEW2_CHANNEL_SEARCH_KIND", "(unset)"},
                                           {"WEBVIEW2_RELEASE_CHANNELS", "2"},
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

using win32::ComHandler;
using win32::ComPtr;

// Runs this thread's message loop until `done` is true or `timeout` has passed.
bool PumpUntil(const std::function<bool()>& done, Milliseconds timeout = kTimeout) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
  while (!done()) {
    if (GetTickCount64() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  return true;
}

std::string TakeString(LPWSTR text) {
  const std::string copy = text ? win32::Narrow(text) : std::string();
  CoTaskMemFree(text);
  return copy;
}

// The fake loaded into this process with a scenario, and its web view made
// the way a host makes it, on this thread.
class FakeWebView : public FakeLoader {
 protected:
  void Open(const std::vector<std::string>& steps) {
    rulesMayBreak_ = true;  // these tests break the rules on purpose
    const fs::path scenario = dir_ / "scenario.txt";
    std::ofstream out(scenario);
    for (const auto& step : steps) out << step << "\n";
    out.close();
    env_.emplace(FakeEnvironment({{"VTL_FAKE_SCENARIO", Utf8(scenario)}, {"VTL_FAKE_PROCESS", std::nullopt}}));
    fake_.emplace();
    ASSERT_TRUE(*fake_);
    auto* create = fake_->Export<decltype(CreateCoreWebView2Environment)>("CreateCoreWebView2Environment");
    const auto handler = ComHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>::Create(
        IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
        [this](HRESULT, ICoreWebView2Environment* e) {
          environment_ = ComPtr(e);
          return S_OK;
        });
    ASSERT_EQ(create(handler.get()), S_OK);
    // Completions come later, through the loop, never inside the call.
    EXPECT_FALSE(environment_);
    ASSERT_TRUE(PumpUntil([&] { return static_cast<bool>(environment_); }));
  }
  ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> ControllerHandler() {
    return ComHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>::Create(
        IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, [this](HRESULT, ICoreWebView2Controller* c) {
          controller_ = ComPtr(c);
          if (c) c->get_CoreWebView2(webView_.Put());
          return S_OK;
        });
  }
  void MakeWebView() {
    ASSERT_EQ(environment_->CreateCoreWebView2Controller(nullptr, ControllerHandler().get()), S_OK);
    EXPECT_FALSE(controller_);
    ASSERT_TRUE(PumpUntil([&] { return static_cast<bool>(webView_); }));
  }
  void TearDown() override {
    webView_.Reset();
    controller_.Reset();
    environment_.Reset();
    fake_.reset();
    env_.reset();
    FakeLoader::TearDown();
  }

  std::optional<ScopedEnvironment> env_;
  std::optional<LoadedFake> fake_;
  ComPtr<ICoreWebView2Environment> environment_;
  ComPtr<ICoreWebView2Controller> controller_;
  ComPtr<ICoreWebView2> webView_;
};

TEST_F(FakeWebView, ObjectsBelongToTheThreadThatMadeThem) {
  Open({});
  HRESULT fromWorker = S_OK;
  std::thread([&] { fromWorker = environment_->CreateCoreWebView2Controller(nullptr, ControllerHandler().get()); })
      .join();
  EXPECT_EQ(fromWorker, RPC_E_WRONG_THREAD);
  MakeWebView();
  std::thread([&] { fromWorker = webView_->Navigate(L"file:///index.html"); }).join();
  EXPECT_EQ(fromWorker, RPC_E_WRONG_THREAD);
  const auto wrong = ReadTranscript().Of("wrong-thread");
  ASSERT_EQ(wrong.size(), 2u);
  EXPECT_EQ(wrong[0][1], "CreateCoreWebView2Controller");
  EXPECT_EQ(wrong[1][1], "Navigate");
  EXPECT_TRUE(ReadTranscript().Of("navigate").empty());
}

TEST_F(FakeWebView, PostWebMessageAsJsonTakesOnlyJson) {
  Open({});
  MakeWebView();
  struct Case {
    const wchar_t* text;
    HRESULT result;
  };
  const Case cases[] = {
      {LR"({"uuid": "u", "success": true, "result": [1, -2.5e+3, "\u00e9\\", null, false, {}]})", S_OK},
      {LR"( "text" )", S_OK},
      {L"0", S_OK},
      {L"{\"a\": [[[[]]]]}", S_OK},
      {L"", E_INVALIDARG},
      {L"{a: 1}", E_INVALIDARG},
      {L"'single'", E_INVALIDARG},
      {L"[1,]", E_INVALIDARG},
      {L"01", E_INVALIDARG},
      {L"{\"a\": 1} {}", E_INVALIDARG},
      {L"\"tab\tinside\"", E_INVALIDARG},
      {L"\"\\x41\"", E_INVALIDARG},
      {L"[1, 2", E_INVALIDARG},
      {L"True", E_INVALIDARG},
      {L"{\"uuid\": \"a\"b\"}", E_INVALIDARG},
  };
  size_t accepted = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(webView_->PostWebMessageAsJson(c.text), c.result) << win32::Narrow(c.text);
    accepted += c.result == S_OK;
  }
  const auto t = ReadTranscript();
  EXPECT_EQ(t.Of("post").size(), accepted);
  EXPECT_EQ(t.Of("post-refused").size(), std::size(cases) - accepted);
}

// A handler that runs a nested message loop (a modal dialog) holds every
// further event until it returns; then they come, in order.
TEST_F(FakeWebView, NoEventWhileAHandlerRuns) {
  Open({R"(message {"n": 1})", R"(message {"n": 2})", R"(message {"n": 3})"});
  MakeWebView();
  std::vector<std::string> received;
  size_t duringTheLoop = 0;
  EventRegistrationToken token{};
  webView_->add_WebMessageReceived(
      ComHandler<ICoreWebView2WebMessageReceivedEventHandler>::Create(
          IID_ICoreWebView2WebMessageReceivedEventHandler,
          [&](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
            LPWSTR json = nullptr;
            args->get_WebMessageAsJson(&json);
            received.push_back(TakeString(json));
            if (received.size() == 1) {
              // Long enough for the scenario to raise the others meanwhile.
              PumpUntil([] { return false; }, Milliseconds(1500));
              duringTheLoop = received.size();
            }
            return S_OK;
          })
          .get(),
      &token);
  ASSERT_EQ(webView_->Navigate(L"file:///index.html"), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  EXPECT_EQ(duringTheLoop, 1u);
  EXPECT_EQ(received, (std::vector<std::string>{R"({"n": 1})", R"({"n": 2})", R"({"n": 3})"}));
  EXPECT_EQ(ReadTranscript().Of("held").size(), 2u);
}

// An iframe's messages come through its frame object, never through the web
// view's WebMessageReceived; what the host posts to the frame is written down.
TEST_F(FakeWebView, IframeMessagesArriveThroughTheirFrames) {
  Open({"frame side file:///side.html", R"(frame-message side {"from": "side"})", R"(message {"from": "top"})",
        "frame-gone side", "frame-message side {}"});
  MakeWebView();
  std::vector<std::string> top, side;
  ComPtr<ICoreWebView2Frame2> frame;
  bool destroyed = false;
  ComPtr<ICoreWebView2_4> webView4;
  ASSERT_EQ(webView_->QueryInterface(IID_ICoreWebView2_4, reinterpret_cast<void**>(webView4.Put())), S_OK);
  EventRegistrationToken token{};
  webView_->add_WebMessageReceived(ComHandler<ICoreWebView2WebMessageReceivedEventHandler>::Create(
                                       IID_ICoreWebView2WebMessageReceivedEventHandler,
                                       [&](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
                                         LPWSTR json = nullptr;
                                         args->get_WebMessageAsJson(&json);
                                         top.push_back(TakeString(json));
                                         return S_OK;
                                       })
                                       .get(),
                                   &token);
  webView4->add_FrameCreated(
      ComHandler<ICoreWebView2FrameCreatedEventHandler>::Create(
          IID_ICoreWebView2FrameCreatedEventHandler,
          [&](ICoreWebView2*, ICoreWebView2FrameCreatedEventArgs* args) {
            ComPtr<ICoreWebView2Frame> created;
            args->get_Frame(created.Put());
            created->QueryInterface(IID_ICoreWebView2Frame2, reinterpret_cast<void**>(frame.Put()));
            EventRegistrationToken t{};
            frame->add_WebMessageReceived(
                ComHandler<ICoreWebView2FrameWebMessageReceivedEventHandler>::Create(
                    IID_ICoreWebView2FrameWebMessageReceivedEventHandler,
                    [&](ICoreWebView2Frame* sender, ICoreWebView2WebMessageReceivedEventArgs* message) {
                      LPWSTR json = nullptr, source = nullptr;
                      message->get_WebMessageAsJson(&json);
                      message->get_Source(&source);
                      side.push_back(TakeString(source) + " " + TakeString(json));
                      ComPtr<ICoreWebView2Frame2> reply;
                      sender->QueryInterface(IID_ICoreWebView2Frame2, reinterpret_cast<void**>(reply.Put()));
                      reply->PostWebMessageAsJson(L"{\"to\": \"side\"}");
                      return S_OK;
                    })
                    .get(),
                &t);
            frame->add_Destroyed(ComHandler<ICoreWebView2FrameDestroyedEventHandler>::Create(
                                     IID_ICoreWebView2FrameDestroyedEventHandler,
                                     [&](ICoreWebView2Frame*, IUnknown*) {
                                       destroyed = true;
                                       return S_OK;
                                     })
                                     .get(),
                                 &t);
            return S_OK;
          })
          .get(),
      &token);
  ASSERT_EQ(webView_->Navigate(L"file:///index.html"), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !ReadTranscript().Of("scenario-end").empty(); }));
  EXPECT_EQ(top, std::vector<std::string>{R"({"from": "top"})"});
  EXPECT_EQ(side, std::vector<std::string>{R"(file:///side.html {"from": "side"})"});
  EXPECT_EQ(ReadTranscript().Of("frame-post"), (std::vector<fake::TranscriptLine>{{"frame-post", "side", R"({"to": "side"})"}}));
  EXPECT_TRUE(destroyed);
  BOOL gone = FALSE;
  frame->IsDestroyed(&gone);
  EXPECT_TRUE(gone);
  EXPECT_EQ(ReadTranscript().Of("scenario-error").size(), 1u);  // no frame "side" any more
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
