// Start-up of real packages under Wine: the messages of a bare runtime, the
// settings that end it silently, the data folder and the WebView2
// environment, the theme, the start-up errors, the password prompt and the
// single-instance rule.

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>

#include "e2e_fixture.h"

namespace vtl::e2e {
namespace {

using uidriver::WindowQuery;

constexpr char kDefaultBrowserArguments[] =
    "--disable-logging --disable-web-security --disable-features=RendererCodeIntegrity "
    "--enable-features=msSpeechRecognition --autoplay-policy=no-user-gesture-required "
    "--allow-file-access-from-files";

class Startup : public EndToEnd {};

TEST_F(Startup, BareRuntimeSaysItIsNoApplicationInTheUsersLanguage) {
  struct Case {
    const char* unixLocale;  // nothing: this test's own locale, English
    const char* text;
    const char* button;
  };
  const Case cases[] = {
      {nullptr, "This is not a valid Windows application.", "Accept"},
      {"de_DE.UTF-8", "Dies ist keine gültige Windows-Anwendung.", "Akzeptieren"},
  };
  struct Run {
    const Case& c;
    fs::path exe;
    Process process;
  };
  std::vector<Run> runs;
  for (const auto& c : cases) {
    Run run{c, BareRuntime(std::string("bare-") + (c.unixLocale ? c.unixLocale : "default") + ".exe"), {}};
    if (!c.unixLocale) {
      run.process = Start(run.exe, FakeEnvironment());
    } else if (!StartWithUnixLocale(run.exe, FakeEnvironment(), c.unixLocale, dir_)) {
      std::cout << "not under Wine: no second locale to start with\n";
      continue;
    }
    runs.push_back(std::move(run));
  }
  for (auto& run : runs) {
    const auto window = run.process ? WaitForWindowOf(run.process, WindowQuery().WithCaption("Error"))
                                    : WaitForWindowOfImage(run.exe, "Error");
    ASSERT_TRUE(window) << run.c.text;
    // The program started through a second Wine loader is found by its window.
    if (!run.process) run.process = Process::Open(window->processId);
    const Dialog dialog = ReadDialog(window->handle);
    EXPECT_TRUE(dialog.Shows(run.c.text)) << dialog;
    EXPECT_EQ(dialog.buttons, std::vector<std::string>{run.c.button}) << dialog;
    ASSERT_TRUE(uidriver::PressButton(dialog.handle, run.c.button));
    EXPECT_EQ(run.process.WaitForExit(), 0u) << run.c.text;
  }
}

TEST_F(Startup, SettingsWithoutDirNameEndSilentlyBeforeAnyFolder) {
  const std::string id = NewAppId("nodir");
  const auto exe = PackageWithEntries("nodir.exe", {{"vtl.ini", "[App]\r\nID=" + id + "\r\nName=No folder\r\n"},
                                                    {"app/index.html", "<p>hi"},
                                                    {"WebView2LoaderWin64.dll", ReadFile(FakeLoaderDll())}});
  const Process p = Start(exe, FakeEnvironment());
  EXPECT_EQ(WatchWindows(p), std::vector<std::string>{});
  EXPECT_EQ(p.WaitForExit(), 0u);
  EXPECT_FALSE(fs::exists(DataDirOf(id)));
  EXPECT_TRUE(ReadTranscript().lines.empty());  // the loader was never asked
}

TEST_F(Startup, PreparesTheDataFolderTheLoaderAndTheWebView2Environment) {
  struct Case {
    const char* label;
    std::string settings;
    std::string arguments;
  };
  const Case cases[] = {
      {"default", "", kDefaultBrowserArguments},
      {"blank", "WebviewArguments=   \r\n", kDefaultBrowserArguments},
      {"own", "WebviewArguments=--lang=de --disable-gpu\r\n", "--lang=de --disable-gpu --allow-file-access-from-files"},
  };
  // What the parent's environment says must not reach the web view.
  const Environment inherited = FakeEnvironment({{"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", "C:\\elsewhere\\browser"},
                                                 {"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", "1"},
                                                 {"WEBVIEW2_CHANNEL_SEARCH_KIND", "1"},
                                                 {"WEBVIEW2_RELEASE_CHANNELS", "1,2"},
                                                 {"WEBVIEW2_USER_DATA_FOLDER", "C:\\wrong\\"},
                                                 {"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", "--inherited"}});
  struct Run {
    const Case& c;
    std::string id;
    Process process;
  };
  std::vector<Run> runs;
  for (const auto& c : cases) {
    const std::string id = NewAppId(c.label);
    const auto exe = Package(std::string(c.label) + ".exe", Settings(id, "Env check", c.settings));
    runs.push_back({c, id, Start(exe, inherited)});
  }
  const std::string loader = ReadFile(FakeLoaderDll());
  for (auto& run : runs) {
    const auto main = WaitForMainWindow(run.process, "Env check");
    ASSERT_TRUE(main) << run.c.label;
    const fs::path webView = DataDirOf(run.id) / "Win64";
    const auto t = ReadTranscript();
    const std::string pid = std::to_string(run.process.id());
    const auto checks = t.CheckPids();
    EXPECT_EQ(std::count(checks.begin(), checks.end(), pid), 1) << run.c.label;
    EXPECT_EQ(t.EnvironmentAtCheck(pid), (std::map<std::string, std::string>{
                                             {"WEBVIEW2_USER_DATA_FOLDER", Utf8(webView) + "\\"},
                                             {"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", run.c.arguments},
                                             {"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", "(unset)"},
                                             {"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", "(unset)"},
                                             {"WEBVIEW2_CHANNEL_SEARCH_KIND", "(unset)"},
                                             {"WEBVIEW2_RELEASE_CHANNELS", "(unset)"},
                                         }))
        << run.c.label;
    // The package's loader, whole, and no temporary file left beside it.
    EXPECT_EQ(Listing(DataDirOf(run.id)), std::vector<std::string>{"Win64"}) << run.c.label;
    EXPECT_EQ(Listing(webView), std::vector<std::string>{"WebView2LoaderWin64.dll"}) << run.c.label;
    EXPECT_TRUE(ReadFile(webView / "WebView2LoaderWin64.dll") == loader) << run.c.label;

    uidriver::Close(main->handle);
    EXPECT_EQ(run.process.WaitForExit(), 0u) << run.c.label;
  }
}

TEST_F(Startup, UnknownThemeIsReportedAndStartupGoesOn) {
  const std::string id = NewAppId("theme");
  const Process p = Start(Package("theme.exe", Settings(id, "Themed", "Theme=No Such Style\r\n")), FakeEnvironment());
  const auto window = WaitForWindowShowing(p, "Style 'No Such Style' not found");
  ASSERT_TRUE(window);
  const Dialog dialog = ReadDialog(window->handle);
  ASSERT_EQ(dialog.buttons.size(), 1u) << dialog;
  ASSERT_TRUE(uidriver::PressButton(dialog.handle, dialog.buttons[0]));

  const auto main = WaitForMainWindow(p, "Themed");
  ASSERT_TRUE(main);
  uidriver::Close(main->handle);
  EXPECT_EQ(p.WaitForExit(), 0u);
}

TEST_F(Startup, StartupErrorsEndThroughTheApplicationErrorReport) {
  const std::string id = NewAppId("blocked");
  // A file where the data folder belongs: no folder, so no loader file.
  std::ofstream(DataDirOf(id)) << "in the way";
  struct Case {
    const char* label;
    fs::path exe;
    const char* mentions;
  };
  const Case cases[] = {
      {"damaged archive", DamagedPackage("damaged.exe"), ""},
      {"data folder taken by a file", Package("blocked.exe", Settings(id, "Blocked")), "Cannot create file"},
  };
  std::vector<Process> processes;
  for (const auto& c : cases) processes.push_back(Start(c.exe, FakeEnvironment()));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const auto dialog = WaitForDialog(processes[i], "Application Error");
    ASSERT_TRUE(dialog) << c.label;
    EXPECT_FALSE(dialog->texts.empty()) << c.label;
    EXPECT_TRUE(dialog->Mentions(c.mentions)) << c.label << ": " << *dialog;
    ASSERT_EQ(dialog->buttons.size(), 1u) << c.label << ": " << *dialog;
    ASSERT_TRUE(uidriver::PressButton(dialog->handle, dialog->buttons[0]));
    EXPECT_EQ(processes[i].WaitForExit(), 1u) << c.label;
  }
  EXPECT_TRUE(fs::is_regular_file(DataDirOf(id)));
}

TEST_F(Startup, PasswordPromptOpensOnTheExactTextAndClosingItEnds) {
  const std::string id = NewAppId("password");
  const auto exe = Package("locked.exe", Settings(id, "Locked", "Password=Secret\r\nAllowInstances=1\r\n"));
  const Process opened = Start(exe, FakeEnvironment()), closed = Start(exe, FakeEnvironment());

  const auto prompt = WaitForPasswordPrompt(opened, "Locked");
  ASSERT_TRUE(prompt);
  const HWND edit = uidriver::FindControl(prompt->handle, "Edit")->handle;
  // After the last key's release has had time to arrive, the prompt must still be there.
  auto staysOpen = [&] {
    Sleep(700);
    return IsWindow(prompt->handle) && opened.Running();
  };
  uidriver::TypeText(edit, "secret");
  EXPECT_TRUE(staysOpen()) << "other letter case";
  uidriver::SetText(edit, "Secret ");
  uidriver::ReleaseKey(edit, VK_SPACE);
  EXPECT_TRUE(staysOpen()) << "trailing blank";
  // The right text closes it at the release of its last key, without Enter.
  uidriver::SetText(edit, "");
  uidriver::TypeText(edit, "Secret");
  EXPECT_TRUE(uidriver::WaitUntilGone(prompt->handle, kTimeout));
  const auto main = WaitForMainWindow(opened, "Locked");
  ASSERT_TRUE(main);
  uidriver::Close(main->handle);
  EXPECT_EQ(opened.WaitForExit(), 0u);

  // Escape and Enter do not close the prompt; its close box ends the program.
  const auto other = WaitForPasswordPrompt(closed, "Locked");
  ASSERT_TRUE(other);
  uidriver::PressKey(other->handle, VK_ESCAPE);
  uidriver::PressKey(other->handle, VK_RETURN);
  Sleep(700);
  EXPECT_TRUE(IsWindow(other->handle));
  uidriver::Close(other->handle);
  EXPECT_TRUE(uidriver::WaitUntilGone(other->handle, kTimeout));
  EXPECT_EQ(WatchWindows(closed), std::vector<std::string>{});
  EXPECT_EQ(closed.WaitForExit(), 0u);
}

TEST_F(Startup, AnotherInstanceRunsOnlyWhenStartedWithTheIdAndAUrl) {
  const std::string id = NewAppId("single");
  const auto exe = Package("single.exe", Settings(id, "Single", "Password=Pass\r\n"));
  const Process first = Start(exe, FakeEnvironment());
  ASSERT_TRUE(EnterPassword(first, "Single", "Pass"));
  const auto firstMain = WaitForMainWindow(first, "Single");
  ASSERT_TRUE(firstMain);

  std::string upperId = id;
  std::transform(upperId.begin(), upperId.end(), upperId.begin(), [](unsigned char c) { return std::toupper(c); });
  const std::string url = "file:///app/index.html";
  const Process plain = Start(exe, FakeEnvironment());
  const Process idOnly = Start(exe, FakeEnvironment(), {id});
  const Process withUrl = Start(exe, FakeEnvironment(), {id, url});
  const Process otherCase = Start(exe, FakeEnvironment(), {upperId, url});

  // An ordinary start asks for the password first and then ends quietly.
  ASSERT_TRUE(EnterPassword(plain, "Single", "Pass"));
  EXPECT_EQ(WatchWindows(plain), std::vector<std::string>{});
  EXPECT_EQ(plain.WaitForExit(), 0u);
  // The ID alone skips the prompt and still ends.
  EXPECT_EQ(WatchWindows(idOnly), std::vector<std::string>{});
  EXPECT_EQ(idOnly.WaitForExit(), 0u);
  // The ID and a URL open a second main window, without the prompt.
  std::optional<WindowInfo> second;
  const auto shown = WatchWindows(withUrl, [&] { return (second = WaitForMainWindow(withUrl, "Single", {})).has_value(); });
  EXPECT_EQ(shown, std::vector<std::string>{"Single"});
  ASSERT_TRUE(second);
  uidriver::Close(second->handle);
  EXPECT_EQ(withUrl.WaitForExit(), 0u);
  // The ID in other letters is an ordinary argument: the prompt comes.
  const auto prompt = WaitForPasswordPrompt(otherCase, "Single");
  ASSERT_TRUE(prompt);
  uidriver::Close(prompt->handle);
  EXPECT_EQ(otherCase.WaitForExit(), 0u);

  ASSERT_TRUE(first.Running());
  EXPECT_TRUE(IsWindow(firstMain->handle));
  uidriver::Close(firstMain->handle);
  EXPECT_EQ(first.WaitForExit(), 0u);
}

TEST_F(Startup, TwentySimultaneousStartsLeaveOneInstance) {
  const std::string id = NewAppId("crowd");
  const auto exe = Package("crowd.exe", Settings(id, "Crowd"));
  std::vector<Process> processes;
  for (int i = 0; i < 20; ++i) processes.push_back(Start(exe, FakeEnvironment()));
  auto running = [&] { return std::count_if(processes.begin(), processes.end(), [](auto& p) { return p.Running(); }); };
  ASSERT_TRUE(WaitUntil([&] { return running() <= 1; }, Milliseconds(180000))) << running() << " still run";

  const Process* survivor = nullptr;
  for (const auto& p : processes) {
    if (p.Running()) {
      survivor = &p;
    } else {
      EXPECT_EQ(p.WaitForExit(Milliseconds(0)), 0u);
    }
  }
  ASSERT_NE(survivor, nullptr);
  const auto main = WaitForMainWindow(*survivor, "Crowd");
  ASSERT_TRUE(main);
  size_t mainWindows = 0;
  for (const auto& p : processes)
    mainWindows += uidriver::FindTopLevelWindows(WindowQuery().OfProcess(p.id()).WithCaption("Crowd")).size();
  EXPECT_EQ(mainWindows, 1u);
  uidriver::Close(main->handle);
  EXPECT_EQ(survivor->WaitForExit(), 0u);
}

}  // namespace
}  // namespace vtl::e2e
