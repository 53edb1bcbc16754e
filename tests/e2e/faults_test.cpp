// Faults a user's machine deals out: the program killed part-way through its
// first start, and a data folder the program cannot use.

#include <fstream>
#include <thread>

#include "e2e_fixture.h"

namespace vtl::e2e {
namespace {

class Faults : public EndToEnd {};

TEST_F(Faults, KilledDuringItsFirstStartItStartsCleanlyNextTime) {
  const std::string id = NewAppId("killed");
  const auto exe = Package("killed.exe", Settings(id, "Killed"));
  const fs::path loader = DataDirOf(id) / "Win64" / "WebView2LoaderWin64.dll";
  const std::string loaderBytes = ReadFile(FakeLoaderDll());
  // Moments from the very start to well past the loader's extraction.
  uint32_t state = 12345;
  for (int round = 0; round < 10; ++round) {
    state = state * 1103515245u + 12345u;
    const auto delay = Milliseconds((state >> 8) % 700);
    {
      const Process p = Start(exe, FakeEnvironment());
      std::this_thread::sleep_for(delay);
    }  // ended by force here, wherever it was
    if (fs::exists(loader)) {
      EXPECT_EQ(ReadFile(loader), loaderBytes) << "round " << round << " after " << delay.count() << " ms";
    }
  }
  const auto scenario = Scenario("after-kills", {});
  const Process p = Start(exe, scenario.env);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  EXPECT_EQ(scenario.Read().Of("navigate").size(), 1u);
  EXPECT_TRUE(WaitForMainWindow(p, "Killed"));
  EXPECT_EQ(ReadFile(loader), loaderBytes);
}

TEST_F(Faults, AnUnusableDataFolderGivesTheReport) {
  struct Case {
    const char* label;
    const char* inTheWay;  // a file where the program needs a folder, under the data folder
  };
  const Case cases[] = {
      {"data folder", ""},
      {"webview folder", "Win64"},
  };
  std::vector<Process> processes;
  for (const auto& c : cases) {
    const std::string id = NewAppId(c.label[0] == 'w' ? "webview" : "data");
    const fs::path blocked = *c.inTheWay ? DataDirOf(id) / PathFromUtf8(c.inTheWay) : DataDirOf(id);
    fs::create_directories(blocked.parent_path());
    std::ofstream(blocked) << "in the way";
    processes.push_back(Start(Package(std::string(c.label) + ".exe", Settings(id, c.label)), FakeEnvironment()));
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto dialog = WaitForDialog(processes[i], "Application Error");
    ASSERT_TRUE(dialog) << cases[i].label;
    ASSERT_FALSE(dialog->buttons.empty()) << *dialog;
    ASSERT_TRUE(uidriver::PressButton(dialog->handle, dialog->buttons[0]));
    EXPECT_EQ(processes[i].WaitForExit(), 1u) << cases[i].label;
  }
}

}  // namespace
}  // namespace vtl::e2e
