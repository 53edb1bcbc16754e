// The main window as a user drives it: minimising and restoring through the
// title bar, the system menu and the page, full screen from every state, the
// size limits in every border style, the size of a minimised or hidden
// window, and the theme of the windows that start-up shows.

#include "e2e_fixture.h"

#include <map>

namespace vtl::e2e {
namespace {

class WindowAsUsed : public EndToEnd {
 protected:
  // A program started with its scenario.
  struct Launch {
    std::string label;
    ScenarioRun scenario;
    Process process;
  };
};

std::string Message(int id, const std::string& uuid, std::string_view data = "{}") {
  return "message {\"id\":" + std::to_string(id) + ",\"uuid\":\"" + uuid + "\",\"data\":" + std::string(data) + "}";
}

constexpr int kSetState = 60004, kGetState = 60003, kGetSize = 60009, kSetSize = 60010;
constexpr int kEnterFullscreen = 50003, kShowTrayIcon = 14001;

// The result of each reply, by uuid.
std::map<std::string, std::string> Results(const Transcript& t) {
  std::map<std::string, std::string> results;
  for (const auto& line : t.Of("post")) {
    if (line.size() < 2) continue;
    const std::string& json = line[1];
    const size_t uuid = json.find("\"uuid\": \"");
    const size_t uuidEnd = json.find('"', uuid + 9);
    const size_t result = json.find("\"result\": ");
    if (uuid == std::string::npos || uuidEnd == std::string::npos || result == std::string::npos) continue;
    results[json.substr(uuid + 9, uuidEnd - uuid - 9)] = json.substr(result + 10, json.size() - result - 11);
  }
  return results;
}

std::string Size(int top, int left, int width, int height) {
  return "{\"top\": " + std::to_string(top) + ", \"left\": " + std::to_string(left) +
         ", \"width\": " + std::to_string(width) + ", \"height\": " + std::to_string(height) + "}";
}

// The fields after the kind of every line of that kind.
std::vector<std::string> Values(const Transcript& t, std::string_view kind) {
  std::vector<std::string> out;
  for (const auto& line : t.Of(kind)) out.push_back(line.size() > 1 ? line[1] : std::string());
  return out;
}

TEST_F(WindowAsUsed, EveryWayBackFromMinimisedShowsThePage) {
  struct Case {
    const char* label;
    std::string restore;  // the scenario line that brings the window back
    const char* state;
  };
  const Case cases[] = {
      {"page-normal", Message(kSetState, "s", R"({"state":"normal"})"), "\"normal\""},
      {"page-maximized", Message(kSetState, "s", R"({"state":"maximized"})"), "\"maximized\""},
      {"menu-maximize", "syscommand maximize", "\"maximized\""},
      {"menu-restore", "syscommand restore", "\"normal\""},
  };
  std::vector<Launch> runs;
  for (const auto& c : cases) {
    const std::string id = NewAppId(c.label);
    const auto scenario =
        Scenario(c.label, {"syscommand minimize", c.restore, "wait 100", Message(kGetState, "state")});
    runs.push_back({c.label, scenario, Start(Package(std::string(c.label) + ".exe", Settings(id, "Restore")),
                                             scenario.env)});
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    auto& run = runs[i];
    ASSERT_TRUE(WaitUntil([&] { return run.scenario.Ended(); })) << run.label;
    const auto t = run.scenario.Read();
    EXPECT_TRUE(t.Of("scenario-error").empty()) << run.label;
    EXPECT_EQ(Values(t, "syscommand").front(), "minimize") << run.label;
    EXPECT_EQ(Results(t)["state"], cases[i].state) << run.label;
    // The web view may be hidden while the window is minimised, never after.
    const auto visible = Values(t, "visible");
    if (!visible.empty()) {
      EXPECT_EQ(visible.back(), "1") << run.label;
    }
  }
}

TEST_F(WindowAsUsed, FullScreenCoversTheMonitorFromEveryState) {
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  struct Case {
    const char* label;
    const char* settings;
    std::vector<std::string> before;
  };
  const Case cases[] = {
      {"from-normal", "", {}},
      {"from-maximized", "WindowState=1\r\n", {}},
      {"from-minimized", "", {"syscommand minimize"}},
      {"from-dialog-frame", "WindowBorder=3\r\n", {}},
  };
  std::vector<Launch> runs;
  for (const auto& c : cases) {
    std::vector<std::string> commands = c.before;
    commands.push_back(Message(kEnterFullscreen, "enter"));
    commands.push_back("wait 100");
    commands.push_back(Message(kGetSize, "size"));
    const auto scenario = Scenario(c.label, commands);
    const std::string id = NewAppId(c.label);
    runs.push_back({c.label, scenario, Start(Package(std::string(c.label) + ".exe", Settings(id, "Full", c.settings)),
                                             scenario.env)});
  }
  for (auto& run : runs) {
    ASSERT_TRUE(WaitUntil([&] { return run.scenario.Ended(); })) << run.label;
    EXPECT_EQ(Results(run.scenario.Read())["size"], Size(0, 0, screenW, screenH)) << run.label;
    const auto main = WaitForWindowOf(run.process, uidriver::WindowQuery().WithClass("VantrelMainForm"));
    ASSERT_TRUE(main) << run.label;
    EXPECT_EQ(GetWindowLongPtrW(main->handle, GWL_STYLE) & WS_CAPTION, 0) << run.label;
  }
}

TEST_F(WindowAsUsed, SizeLimitsHoldInEveryBorderStyleAndInFullScreen) {
  constexpr const char* kLimits = "MinWidth=400\r\nMinHeight=300\r\nMaxWidth=900\r\nMaxHeight=700\r\n";
  struct Case {
    const char* label;
    const char* settings;
    bool enterFullScreen;
  };
  const Case cases[] = {
      {"none", "WindowBorder=0\r\n", false},   {"single", "WindowBorder=1\r\n", false},
      {"sizeable", "WindowBorder=2\r\n", false}, {"dialog", "WindowBorder=3\r\n", false},
      {"tool", "WindowBorder=4\r\n", false},   {"sizetool", "WindowBorder=5\r\n", false},
      {"fullscreen-start", "WindowStyle=1\r\n", false}, {"fullscreen-entered", "", true},
  };
  std::vector<Launch> runs;
  for (const auto& c : cases) {
    std::vector<std::string> commands;
    if (c.enterFullScreen) commands.push_back(Message(kEnterFullscreen, "enter"));
    commands.insert(commands.end(), {Message(kGetSize, "start"),
                                     Message(kSetSize, "set-small", R"({"width": 10, "height": "abc"})"),
                                     Message(kGetSize, "small"),
                                     Message(kSetSize, "set-large", R"({"width": 5000, "height": 5000})"),
                                     Message(kGetSize, "large")});
    const auto scenario = Scenario(c.label, commands);
    const std::string id = NewAppId(c.label);
    const auto exe = Package(std::string(c.label) + ".exe", Settings(id, "Limits", std::string(kLimits) + c.settings));
    runs.push_back({c.label, scenario, Start(exe, scenario.env)});
  }
  for (auto& run : runs) {
    ASSERT_TRUE(WaitUntil([&] { return run.scenario.Ended(); })) << run.label;
    auto results = Results(run.scenario.Read());
    for (const char* size : {"start", "small", "large"}) {
      const std::string& text = results[size];
      const size_t w = text.find("\"width\": "), h = text.find("\"height\": ");
      ASSERT_TRUE(w != std::string::npos && h != std::string::npos) << run.label << " " << size << ": " << text;
      const int width = std::stoi(text.substr(w + 9)), height = std::stoi(text.substr(h + 10));
      if (std::string_view(size) == "small") {
        EXPECT_EQ(width, 400) << run.label << " " << text;
        EXPECT_EQ(height, 300) << run.label << " " << text;
      } else {
        EXPECT_TRUE(width >= 400 && width <= 900 && height >= 300 && height <= 700)
            << run.label << " " << size << ": " << text;
      }
      if (std::string_view(size) == "large") {
        EXPECT_EQ(width, 900) << run.label << " " << text;
        EXPECT_EQ(height, 700) << run.label << " " << text;
      }
    }
  }
}

TEST_F(WindowAsUsed, AMinimisedOrHiddenWindowAnswersAndTakesItsRestoredBounds) {
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  const std::string centred = Size((screenH - 600) / 2, (screenW - 800) / 2, 800, 600);
  struct Case {
    const char* label;
    std::vector<std::string> away;  // how the window leaves the screen
  };
  const Case cases[] = {
      {"minimized", {"syscommand minimize"}},
      {"page-minimized", {Message(kSetState, "min", R"({"state":"minimized"})")}},
      {"hidden-to-tray", {Message(kShowTrayIcon, "tray"), Message(kSetState, "min", R"({"state":"minimized"})")}},
  };
  std::vector<Launch> runs;
  for (const auto& c : cases) {
    std::vector<std::string> commands = c.away;
    // The minimum width still applies to a change made meanwhile.
    commands.insert(commands.end(),
                    {Message(kGetSize, "away"),
                     Message(kSetSize, "set", R"({"left": 30, "top": 40, "width": 640, "height": 480})"),
                     Message(kGetSize, "changed"), Message(kSetState, "back", R"({"state":"normal"})"), "wait 100",
                     Message(kGetSize, "restored"), Message(kGetState, "state")});
    const auto scenario = Scenario(c.label, commands);
    const std::string id = NewAppId(c.label);
    const auto exe = Package(std::string(c.label) + ".exe", Settings(id, "Away", "MinWidth=700\r\n"));
    runs.push_back({c.label, scenario, Start(exe, scenario.env)});
  }
  for (auto& run : runs) {
    ASSERT_TRUE(WaitUntil([&] { return run.scenario.Ended(); })) << run.label;
    auto results = Results(run.scenario.Read());
    EXPECT_EQ(results["away"], centred) << run.label;
    EXPECT_EQ(results["changed"], Size(40, 30, 700, 480)) << run.label;
    EXPECT_EQ(results["restored"], Size(40, 30, 700, 480)) << run.label;
    EXPECT_EQ(results["state"], "\"normal\"") << run.label;
    const auto main = WaitForWindowOf(run.process, uidriver::WindowQuery().WithClass("VantrelMainForm"));
    ASSERT_TRUE(main) << run.label;
    RECT r{};
    GetWindowRect(main->handle, &r);
    EXPECT_EQ(r.left, 30) << run.label;
    EXPECT_EQ(r.right - r.left, 700) << run.label;
  }
}

// The colour the screen shows at a point of the window's client area, as 0xRRGGBB.
uint32_t ScreenPixel(HWND window, int x, int y) {
  POINT p{x, y};
  ClientToScreen(window, &p);
  HDC screen = GetDC(nullptr);
  const COLORREF c = GetPixel(screen, p.x, p.y);
  ReleaseDC(nullptr, screen);
  return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

TEST_F(WindowAsUsed, StartUpWindowsWearTheThemeOfTheSettings) {
  // Carbon: background 0x303030, face 0x3B3B3B.
  struct Case {
    const char* label;
    const char* settings;
    bool prompt;        // the password prompt, else a message dialog
    const char* caption;
    uint32_t color;     // of the window's background
  };
  const Case cases[] = {
      {"error", "Theme=Carbon\r\nEdgeInstaller=0\r\n", false, "Error", 0x303030},
      {"question", "Theme=Carbon\r\n", false, "Confirm", 0x303030},
      {"password", "Theme=Carbon\r\nPassword=pw\r\n", true, "Themed", 0x3B3B3B},
  };
  // One at a time: the windows all open in the middle of the screen.
  for (const auto& c : cases) {
    const std::string id = NewAppId(c.label);
    Environment env = FakeEnvironment();
    if (!c.prompt) env.push_back({"VTL_FAKE_WEBVIEW2_VERSION", "none"});
    const Process p = Start(Package(std::string(c.label) + ".exe", Settings(id, "Themed", c.settings), true), env);
    HWND window = nullptr;
    if (c.prompt) {
      const auto prompt = WaitForPasswordPrompt(p, "Themed");
      ASSERT_TRUE(prompt) << c.label;
      window = prompt->handle;
    } else {
      const auto dialog = WaitForDialog(p, c.caption);
      ASSERT_TRUE(dialog) << c.label;
      window = dialog->handle;
    }
    SetForegroundWindow(window);
    EXPECT_TRUE(WaitUntil([&] { return ScreenPixel(window, 3, 3) == c.color; }, Milliseconds(5000)))
        << c.label << ": 0x" << std::hex << ScreenPixel(window, 3, 3);
  }
}

}  // namespace
}  // namespace vtl::e2e
