// A missing WebView2 runtime under Wine: the refusal, the question, the
// installation with the test installer, and what each way leaves behind.

#include "e2e_fixture.h"

#include <shellapi.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "win32/text.h"

namespace vtl::e2e {
namespace {

using uidriver::WindowQuery;

constexpr char kRuntimeRequired[] =
    "The Microsoft WebView2 runtime is required to run this application. This application cannot continue and will "
    "be closed now.";
constexpr char kInstallQuestion[] =
    "The Microsoft WebView2 runtime is required to run this application. Do you want to install it now?";
constexpr char kDeclined[] = "This application cannot continue and will be closed now.";
constexpr char kInstallFailed[] =
    "You cancel the installation of Microsoft WebView2 runtime, This application cannot continue and will be closed "
    "now.";
constexpr char kDefaultVersion[] = "120.0.2210.91";

class Installation : public EndToEnd {
 protected:
  // No WebView2 runtime until the test installer has run (and succeeded).
  Environment RuntimeMissing(Environment more = {}) const {
    Environment env{{"VTL_FAKE_WEBVIEW2_VERSION", "none"},
                    {"VTL_FAKE_WEBVIEW2_INSTALLED_MARKER", Utf8(dir_ / "runtime.installed")}};
    env.insert(env.end(), more.begin(), more.end());
    return FakeEnvironment(env);
  }

  // The question, checked, answered with `answer`.
  static void Answer(const Process& p, const std::function<void(HWND)>& answer) {
    const auto question = WaitForDialog(p, "Confirm");
    ASSERT_TRUE(question);
    EXPECT_TRUE(question->Shows(kInstallQuestion)) << *question;
    EXPECT_EQ(question->buttons, (std::vector<std::string>{"Accept", "Cancel"})) << *question;
    answer(question->handle);
  }

  // Each check as pid and reported version.
  std::vector<std::pair<std::string, std::string>> Checks() const {
    std::vector<std::pair<std::string, std::string>> checks;
    for (const auto& line : ReadTranscript().Of("check")) checks.emplace_back(line.at(1), line.at(2));
    return checks;
  }
};

TEST_F(Installation, WithoutTheOfferTheRuntimeIsRequiredAndTheDataFolderStays) {
  // The fake's two ways of saying "none": a failure, or success with no version.
  struct Run {
    std::string id;
    Process process;
  };
  std::vector<Run> runs;
  for (const char* answer : {"none", "null"}) {
    const std::string id = NewAppId(answer);
    const auto exe = Package(std::string(answer) + ".exe", Settings(id, "Refused", "EdgeInstaller=0\r\n"), true);
    runs.push_back({id, Start(exe, RuntimeMissing({{"VTL_FAKE_WEBVIEW2_VERSION", answer}}))});
  }
  for (auto& run : runs) {
    const auto dialog = WaitForDialog(run.process, "Error");
    ASSERT_TRUE(dialog) << run.id;
    EXPECT_TRUE(dialog->Shows(kRuntimeRequired)) << *dialog;
    EXPECT_EQ(dialog->buttons, std::vector<std::string>{"Accept"}) << *dialog;
    ASSERT_TRUE(uidriver::PressButton(dialog->handle, "Accept"));
    EXPECT_EQ(run.process.WaitForExit(), 0u) << run.id;
    EXPECT_EQ(Listing(DataDirOf(run.id) / "Win64"), std::vector<std::string>{"WebView2LoaderWin64.dll"}) << run.id;
  }
  const auto checks = ReadTranscript().CheckPids();
  for (auto& run : runs) EXPECT_EQ(std::count(checks.begin(), checks.end(), std::to_string(run.process.id())), 1);
  EXPECT_TRUE(ReadTranscript().Of("installer").empty());
}

TEST_F(Installation, DecliningDeletesTheDataFolderAndSaysSo) {
  struct Case {
    const char* label;
    std::function<void(HWND)> decline;
  };
  const Case cases[] = {
      {"cancel", [](HWND q) { ASSERT_TRUE(uidriver::PressButton(q, "Cancel")); }},
      {"escape", [](HWND q) { uidriver::PressKey(q, VK_ESCAPE); }},
      {"close", [](HWND q) { uidriver::Close(q); }},
  };
  struct Run {
    const Case& c;
    std::string id;
    Process process;
  };
  std::vector<Run> runs;
  for (const auto& c : cases) {
    const std::string id = NewAppId(c.label);
    runs.push_back({c, id, Start(Package(std::string(c.label) + ".exe", Settings(id, "Declined"), true), RuntimeMissing())});
  }
  for (auto& run : runs) {
    Answer(run.process, run.c.decline);
    ASSERT_FALSE(HasFatalFailure()) << run.c.label;
    const auto dialog = WaitForDialog(run.process, "Error");
    ASSERT_TRUE(dialog) << run.c.label;
    EXPECT_TRUE(dialog->Shows(kDeclined)) << run.c.label << ": " << *dialog;
    EXPECT_FALSE(fs::exists(DataDirOf(run.id))) << run.c.label;
    ASSERT_TRUE(uidriver::PressButton(dialog->handle, "Accept"));
    EXPECT_EQ(run.process.WaitForExit(), 0u) << run.c.label;
  }
  EXPECT_TRUE(ReadTranscript().Of("installer").empty());
}

TEST_F(Installation, AfterTheInstallationTheProgramStartsOnceMoreWithoutArguments) {
  const std::string id = NewAppId("installed");
  const auto exe = Package("install.exe", Settings(id, "Installed", "Password=Key1\r\n"), true);
  const Process first = Start(exe, RuntimeMissing({{"VTL_TEST_INSTALLER_SLEEP_MS", "4000"}}), {"first-argument"});
  Answer(first, [](HWND q) { ASSERT_TRUE(uidriver::PressButton(q, "Accept")); });
  ASSERT_FALSE(HasFatalFailure());

  // The busy window while the installer runs: a borderless square that will not close.
  const auto busy = WaitForWindowOf(first, WindowQuery(), [](const WindowInfo& w) {
    return (w.style & WS_POPUP) && (w.style & WS_CAPTION) != WS_CAPTION;
  });
  ASSERT_TRUE(busy);
  EXPECT_EQ(busy->rect.right - busy->rect.left, busy->rect.bottom - busy->rect.top);
  EXPECT_GE(busy->rect.right - busy->rect.left, 80);
  uidriver::Close(busy->handle);
  Sleep(500);
  EXPECT_TRUE(IsWindow(busy->handle));
  EXPECT_EQ(first.WaitForExit(), 0u);

  // The relaunch is known by its pid in the transcript.
  const std::string firstPid = std::to_string(first.id());
  std::string secondPid;
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& [pid, version] : Checks())
      if (pid != firstPid) secondPid = pid;
    return !secondPid.empty();
  }));
  const Process second = Process::Open(std::stoul(secondPid));
  ASSERT_TRUE(second) << "the relaunch ended early";
  // Started without arguments, so the password is asked for.
  ASSERT_TRUE(EnterPassword(second, "Installed", "Key1"));
  const auto main = WaitForMainWindow(second, "Installed");
  ASSERT_TRUE(main);
  uidriver::Close(main->handle);
  EXPECT_EQ(second.WaitForExit(), 0u);

  Sleep(1000);  // room for a relaunch too many to show up
  const auto t = ReadTranscript();
  EXPECT_EQ(Checks(), (std::vector<std::pair<std::string, std::string>>{
                          {firstPid, "(none)"}, {firstPid, kDefaultVersion}, {secondPid, kDefaultVersion}}));
  for (const auto& line : t.Of("process")) {
    int argc = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> argv(CommandLineToArgvW(win32::Widen(line.at(2)).c_str(), &argc),
                                                             &LocalFree);
    EXPECT_EQ(argc, line.at(1) == firstPid ? 2 : 1) << line.at(2);
  }
  EXPECT_EQ(t.Of("installer"), (std::vector<fake::TranscriptLine>{{"installer", "/silent /install"}}));
  const fs::path installer = DataDirOf(id) / "WebView2Installer.exe";
  ASSERT_EQ(t.Of("installer-path").size(), 1u);
  EXPECT_EQ(_wcsicmp(win32::Widen(t.Of("installer-path")[0].at(1)).c_str(), installer.c_str()), 0)
      << t.Of("installer-path")[0].at(1);
  EXPECT_FALSE(fs::exists(installer));
  EXPECT_EQ(Listing(DataDirOf(id) / "Win64"), std::vector<std::string>{"WebView2LoaderWin64.dll"});
}

TEST_F(Installation, AFailedInstallationDeletesTheDataFolderAndSaysSo) {
  struct Case {
    const char* label;
    bool damagedEntry;  // the package's installer entry does not extract
    size_t installerRuns;
  };
  const Case cases[] = {{"failed", false, 1}, {"damaged", true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string id = NewAppId(c.label);
    const auto exe = Package(std::string(c.label) + ".exe", Settings(id, "Failed"), true);
    if (c.damagedEntry) {
      std::string bytes = ReadFile(exe);
      // The entry's name stands in its local header and in the central
      // directory, the last two places; the data follows the local header.
      const size_t central = bytes.rfind("WebView2Installer.exe");
      const size_t local = bytes.rfind("WebView2Installer.exe", central - 1);
      ASSERT_NE(local, std::string::npos);
      bytes[local + 21 + 200] ^= 0x5A;
      std::ofstream(exe, std::ios::binary | std::ios::trunc) << bytes;
    }
    const size_t runsBefore = ReadTranscript().Of("installer").size();
    const Process p = Start(exe, RuntimeMissing({{"VTL_TEST_INSTALLER_FAIL", "1"}}));
    Answer(p, [](HWND q) { ASSERT_TRUE(uidriver::PressButton(q, "Accept")); });
    ASSERT_FALSE(HasFatalFailure());
    const auto dialog = WaitForDialog(p, "Error");
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->Shows(kInstallFailed)) << *dialog;
    EXPECT_FALSE(fs::exists(DataDirOf(id)));
    ASSERT_TRUE(uidriver::PressButton(dialog->handle, "Accept"));
    EXPECT_EQ(p.WaitForExit(), 0u);

    const std::string pid = std::to_string(p.id());
    std::vector<std::pair<std::string, std::string>> checks;
    for (const auto& check : Checks())
      if (check.first == pid) checks.push_back(check);
    EXPECT_EQ(checks, (std::vector<std::pair<std::string, std::string>>{{pid, "(none)"}, {pid, "(none)"}}));
    EXPECT_EQ(ReadTranscript().Of("installer").size() - runsBefore, c.installerRuns);
  }
}

}  // namespace
}  // namespace vtl::e2e
