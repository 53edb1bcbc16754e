// The bad-package corpus started as its users would start it: each file gives
// its one clear outcome, and none of them crashes or hangs.

#include "bad_packages.h"
#include "e2e_fixture.h"
#include <fstream>

namespace vtl::e2e {
namespace {

using badpackages::RuntimeOutcome;

class BadPackages : public EndToEnd {};

// Whether the system refuses to start the file. Wine starts some images that
// Windows refuses (no sections at all); such a process must at least never
// show a window, and it is ended here.
bool RefusedOrShowsNothing(const fs::path& exe) {
  std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return true;
  const UniqueHandle process(info.hProcess), thread(info.hThread);
  const Process watched = Process::Open(info.dwProcessId);
  const bool quiet = WatchWindows(watched, {}, Milliseconds(3000)).empty();
  TerminateProcess(info.hProcess, 99);
  WaitForSingleObject(info.hProcess, 10000);
  return quiet;
}

TEST_F(BadPackages, EachGivesItsClearOutcome) {
  const std::string prefix = NewAppId("bad");
  const auto corpus = badpackages::MakeBadPackages(ReadFile(RuntimeExe()), ReadFile(FakeLoaderDll()), prefix);
  struct Run {
    const badpackages::BadPackage* package;
    Process process;
  };
  std::vector<Run> runs;
  // Wine keeps an image it could not load mapped for a while after its
  // process is gone, so those files live in a folder of their own that the
  // next run clears.
  const fs::path unloadable = fs::temp_directory_path() / "vtl-e2e-unloadable";
  std::error_code ignored;
  fs::remove_all(unloadable, ignored);
  fs::create_directories(unloadable / std::to_string(GetCurrentProcessId()));
  for (const auto& p : corpus) {
    const bool refused = p.runtime == RuntimeOutcome::SystemRefuses;
    const fs::path exe = (refused ? unloadable / std::to_string(GetCurrentProcessId()) : dir_) / PathFromUtf8(p.name + ".exe");
    std::ofstream(exe, std::ios::binary) << p.bytes;
    if (refused) {
      EXPECT_TRUE(RefusedOrShowsNothing(exe)) << p.name;
      continue;
    }
    runs.push_back({&p, Start(exe, FakeEnvironment())});
  }
  for (auto& run : runs) {
    const auto& p = *run.package;
    SCOPED_TRACE(p.name);
    switch (p.runtime) {
      case RuntimeOutcome::ApplicationError: {
        const auto dialog = WaitForDialog(run.process, "Application Error");
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->Mentions(p.shows)) << *dialog;
        ASSERT_TRUE(uidriver::PressButton(dialog->handle, dialog->buttons.at(0)));
        EXPECT_EQ(run.process.WaitForExit(), 1u);
        break;
      }
      case RuntimeOutcome::Message: {
        const auto dialog = WaitForDialog(run.process, "Error");
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->Mentions(p.shows)) << *dialog;
        ASSERT_FALSE(dialog->buttons.empty()) << *dialog;
        ASSERT_TRUE(uidriver::PressButton(dialog->handle, dialog->buttons.at(0)));
        EXPECT_EQ(run.process.WaitForExit(), 0u);
        break;
      }
      case RuntimeOutcome::EndsSilently:
        EXPECT_EQ(WatchWindows(run.process), std::vector<std::string>{});
        EXPECT_EQ(run.process.WaitForExit(), 0u);
        break;
      case RuntimeOutcome::MainWindow:
        EXPECT_TRUE(WaitForMainWindow(run.process, p.shows));
        break;
      case RuntimeOutcome::SystemRefuses:
        break;
    }
  }
}

}  // namespace
}  // namespace vtl::e2e
