// The bridge of a packaged program under Wine with the fake loader: web
// messages as a page sends them and the exact replies the runtime posts back,
// the main menu and tray clicks driven through Win32 and the page events they
// raise, and the shell, registry and notification commands against the real
// system, including a long command that must not hold up other requests.

#include "e2e_fixture.h"

#include <fstream>
#include <functional>
#include <map>

#include "win32/text.h"

namespace vtl::e2e {
namespace {

class BridgeCommands : public EndToEnd {};

// A text as a JSON string: the paths and values used here need only the
// quote and the backslash escaped.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Message(int id, const std::string& uuid, std::string_view data = "{}") {
  return "message {\"id\":" + std::to_string(id) + ",\"uuid\":" + JsonString(uuid) + ",\"data\":" + std::string(data) +
         "}";
}

std::string Reply(const std::string& uuid, std::string_view result, bool success = true) {
  return "{\"uuid\": " + JsonString(uuid) + ", \"success\": " + (success ? "true" : "false") +
         ", \"result\": " + std::string(result) + "}";
}

// The one field of every line of that kind, in order.
std::vector<std::string> Values(const Transcript& t, std::string_view kind) {
  std::vector<std::string> out;
  for (const auto& line : t.Of(kind)) out.push_back(line.size() > 1 ? line[1] : std::string());
  return out;
}

// The replies keyed by uuid, each with its place among all replies.
struct Replies {
  std::map<std::string, std::pair<size_t, std::string>> byUuid;
  static Replies Of(const Transcript& t) {
    Replies r;
    const auto posts = Values(t, "post");
    for (size_t i = 0; i < posts.size(); ++i) {
      const size_t start = posts[i].find("\"uuid\": \"") + 9;
      const size_t end = posts[i].find("\", \"success\"");
      if (start < 9 || end == std::string::npos) continue;
      r.byUuid[posts[i].substr(start, end - start)] = {i, posts[i]};
    }
    return r;
  }
  bool Has(const std::string& uuid) const { return byUuid.count(uuid) != 0; }
};

// The process's top-level window of that class, hidden ones too.
HWND WindowOfClass(const Process& p, const std::string& className) {
  const auto found = uidriver::FindTopLevelWindows(
      uidriver::WindowQuery().OfProcess(p.id()).WithClass(className).IncludingHidden());
  return found.empty() ? nullptr : found.front().handle;
}

// Waits for the process's open pop-up menu and types an item's access key
// into it, as a user does; the menu's own loop reads the key.
void ChooseFromOpenMenu(const Process& p, wchar_t accessKey) {
  HWND popup = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (popup = WindowOfClass(p, "#32768")) != nullptr && IsWindowVisible(popup); }));
  PostMessageW(popup, WM_CHAR, accessKey, 1);
}

std::string Items(std::string_view list) { return "{\"items\":" + JsonString(list) + "}"; }

TEST_F(BridgeCommands, WebMessagesGetTheirExactRepliesAndUnknownOnesNone) {
  const std::string id = NewAppId("bridge");
  const auto exe = Package("bridge.exe", Settings(id, "Bridge"));
  const std::string exeDir = Utf8(exe.parent_path()) + "\\";
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  const std::string size = "{\"top\": " + std::to_string((screenH - 600) / 2) +
                           ", \"left\": " + std::to_string((screenW - 800) / 2) + ", \"width\": 800, \"height\": 600}";

  struct Case {
    std::string message;          // the scenario line
    std::optional<std::string> reply;  // nothing: the runtime stays silent
  };
  const Case cases[] = {
      {Message(10001, "u-hello"), Reply("u-hello", "\"2023.1\"")},
      {Message(10002, "u-runtime"), Reply("u-runtime", "true")},
      // A uuid that needs escaping comes back as a valid JSON string.
      {Message(10001, "q\"b\\s"), Reply("q\"b\\s", "\"2023.1\"")},
      // A numeric id given as a string is read as its number.
      {"message {\"id\":\"10001\",\"uuid\":\"u-textid\",\"data\":{}}", Reply("u-textid", "\"2023.1\"")},
      // Unknown ids, ids that are no number and messages without data get no reply.
      {Message(99999, "u-unknown"), std::nullopt},
      {"message {\"id\":\"hello\",\"uuid\":\"u-wordid\",\"data\":{}}", std::nullopt},
      {"message {\"id\":10001,\"uuid\":\"u-nodata\"}", std::nullopt},
      {"message not json at all", std::nullopt},
      {Message(10001, "u-after"), Reply("u-after", "\"2023.1\"")},
      {Message(30001, "u-missing", "{\"filePath\":\"no-such-file.txt\"}"), Reply("u-missing", "false")},
      {Message(30001, "u-nopath"), Reply("u-nopath", "\"Missing filePath\"", false)},
      {Message(30003, "u-write", "{\"filePath\":\"notes\\\\out.txt\",\"contents\":\"one\\ntwo\"}"),
       Reply("u-write", "true")},
      {Message(30001, "u-written", "{\"filePath\":\"notes\\\\out.txt\"}"), Reply("u-written", "true")},
      {Message(30001, "u-absolute", "{\"filePath\":" + JsonString(Utf8(exe)) + "}"), Reply("u-absolute", "true")},
      {Message(40006, "u-exedir"), Reply("u-exedir", JsonString(exeDir))},
      {Message(50005, "u-args"), Reply("u-args", "[" + JsonString(Utf8(exe)) + ",\"one\",\"two words\"]")},
      {Message(50002, "u-fullscreen"), Reply("u-fullscreen", "false")},
      {Message(60005, "u-title"), Reply("u-title", "\"Bridge\"")},
      {Message(60006, "u-settitle", "{\"title\":\"Caf\xC3\xA9 \\\"Q\\\"\"}"), Reply("u-settitle", "true")},
      {Message(60005, "u-title2"), Reply("u-title2", "\"Caf\xC3\xA9 \\\"Q\\\"\"")},
      {Message(60009, "u-size"), Reply("u-size", size)},
      {Message(60008, "u-zoom", "{\"factor\":\"1.5\"}"), Reply("u-zoom", "true")},
      {Message(60007, "u-getzoom"), Reply("u-getzoom", "\"1.5\"")},
      {Message(60008, "u-badzoom", "{\"factor\":\"1,5\"}"), Reply("u-badzoom", "false")},
      {Message(80001, "u-theme"), Reply("u-theme", "\"Windows\"")},
  };
  std::vector<std::string> commands;
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    commands.push_back(c.message);
    if (c.reply) expected.push_back(*c.reply);
  }
  const auto scenario = Scenario("bridge", commands);
  const Process p = Start(exe, scenario.env, {"one", "two words"});
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  const auto t = scenario.Read();

  // Every reply in the order the requests came, each with its own uuid.
  EXPECT_EQ(Values(t, "post"), expected);
  EXPECT_TRUE(t.Of("scenario-error").empty());
  EXPECT_EQ(Values(t, "zoom"), (std::vector<std::string>{"1.5", "1"}));
  EXPECT_EQ(ReadFile(exe.parent_path() / "notes" / "out.txt"), "\xEF\xBB\xBFone\r\ntwo\r\n");
  const auto main = WaitForWindowOf(p, uidriver::WindowQuery().WithClass("VantrelMainForm"));
  ASSERT_TRUE(main);
  wchar_t caption[64] = {};
  GetWindowTextW(main->handle, caption, 64);
  EXPECT_EQ(std::wstring(caption), L"Caf\u00E9 \"Q\"");
}

TEST_F(BridgeCommands, MenuAndTrayClicksBecomePageEvents) {
  constexpr char kMenuClick[] = "vtl.events.onMainMenuItemClick(\"42\");";
  constexpr char kIconClick[] = "vtl.events.onTrayIconClick();";
  constexpr char kTrayClick[] = "vtl.events.onTrayMenuItemClick(\"8\");";
  const std::string mainItems =
      R"([{"id": 1, "caption": "&File", "items": [{"id": 41, "caption": "New"}, {"id": 3, "caption": "-"},)"
      R"( {"id": 42, "caption": "Open"}]}, {"id": "2", "caption": "Help"}])";
  const std::string trayItems = R"([{"id": 7, "caption": "&Show"}, {"id": 8, "caption": "&Quit"}])";
  const std::vector<std::string> commands = {
      Message(12001, "m-set", Items(mainItems)),
      // A malformed item empties the whole menu.
      Message(12001, "m-broken", Items("[{\"caption\": \"no id\"}]")),
      Message(12002, "m-empty", R"({"id":"42","caption":"x"})"),
      Message(12001, "m-again", Items(mainItems)),
      Message(12002, "m-update", R"({"id":"42","caption":"&Open file"})"),
      Message(12002, "m-absent", R"({"id":"77","caption":"Nobody"})"),
      Message(12002, "m-badid", R"({"id":"forty"})"),
      Message(14003, "t-set", Items(trayItems)),
      Message(14001, "t-show"),
      std::string("await-execute ") + kMenuClick,
      std::string("await-execute ") + kIconClick,
      std::string("await-execute ") + kTrayClick,
  };
  const auto scenario = Scenario("menus", commands);
  const Process p = Start(Package("menus.exe", Settings(NewAppId("menus"), "Menus")), scenario.env);
  const auto replied = [&](const std::string& uuid) { return Replies::Of(scenario.Read()).Has(uuid); };
  ASSERT_TRUE(WaitUntil([&] { return replied("t-show"); }));
  EXPECT_EQ(Values(scenario.Read(), "post"), (std::vector<std::string>{
                                                  Reply("m-set", "true"),
                                                  Reply("m-broken", "\"Wrong menu item JSON\"", false),
                                                  Reply("m-empty", "\"No menu items\"", false),
                                                  Reply("m-again", "true"),
                                                  Reply("m-update", "true"),
                                                  Reply("m-absent", "true"),
                                                  Reply("m-badid", "\"Wrong item ID\"", false),
                                                  Reply("t-set", "true"),
                                                  Reply("t-show", "true"),
                                              }));

  // Wine keeps a menu's items in the process that made it, so another
  // process cannot walk them (GetSubMenu answers nothing). The user's way
  // works: Alt+F opens File, and the access key of the updated caption picks
  // "&Open file", which the menu reports to the window by position.
  const auto main = WaitForMainWindow(p, "Menus");
  ASSERT_TRUE(main);
  ASSERT_NE(GetMenu(main->handle), nullptr);
  PostMessageW(main->handle, WM_SYSCOMMAND, SC_KEYMENU, 'f');
  ChooseFromOpenMenu(p, 'o');
  ASSERT_TRUE(WaitUntil([&] { return !scenario.Read().Of("execute").empty(); }));

  // The tray: the shell reports a left click on the icon to the hidden
  // holder window; a right click opens the pop-up menu, where the user
  // presses the access key of "&Quit".
  const HWND holder = WindowOfClass(p, "VantrelBrowserExternalForm");
  ASSERT_NE(holder, nullptr);
  constexpr UINT kTrayMessage = WM_APP + 1;
  PostMessageW(holder, kTrayMessage, 1, WM_LBUTTONDOWN);
  PostMessageW(holder, kTrayMessage, 1, WM_LBUTTONUP);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Read().Of("execute").size() >= 2; }));
  PostMessageW(holder, kTrayMessage, 1, WM_RBUTTONUP);
  ChooseFromOpenMenu(p, 'q');
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  EXPECT_EQ(Values(scenario.Read(), "execute"), (std::vector<std::string>{kMenuClick, kIconClick, kTrayClick}));
}

TEST_F(BridgeCommands, ShellRegistryAndNotificationRepliesAndALongCommandHoldsUpNoOther) {
  // A key of this run only, removed whatever the test does.
  const std::string key = "Software\\VantrelE2E\\run" + std::to_string(GetCurrentProcessId());
  struct KeyCleanup {
    std::wstring path;
    ~KeyCleanup() {
      RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
      RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VantrelE2E");  // only once empty
    }
  } cleanup{win32::Widen(key)};
  const std::string sub = key + "\\Deep\\er";
  const auto keyArg = [](const std::string& k, std::string_view more = {}) {
    return "{\"key\":" + JsonString(k) + std::string(more) + "}";
  };
  const std::string child = "\"" + Utf8(TestChildExe()) + "\"";
  const fs::path gate = dir_ / "let-the-command-end";

  struct Case {
    std::string message;
    std::string uuid;
    std::string result;
    bool success = true;
  };
  const Case cases[] = {
      // The long command first: it runs until the test lets it end, which the
      // test does only once every other request has been answered.
      {Message(70003, "s-long", "{\"command\":" + JsonString(child + " waitfor " + Utf8(gate) + " write 646f6e65") + "}"),
       "s-long", "\"done\""},
      {Message(10001, "s-hello"), "s-hello", "\"2023.1\""},
      {Message(70003, "s-echo", R"({"command":"echo a \"b\" c"})"), "s-echo", "\"a \\\"b\\\" c\\r\\n\""},
      {Message(70003, "s-nocommand"), "s-nocommand", "\"Missing command\"", false},
      {Message(13001, "r-write", keyArg(sub, R"(,"name":"greeting","value":"hi \"there\"")")), "r-write", "true"},
      {Message(13002, "r-read", keyArg(sub, R"(,"name":"greeting")")), "r-read", "\"hi \\\"there\\\"\""},
      {Message(13003, "r-exists", keyArg(sub, R"(,"name":"greeting")")), "r-exists", "true"},
      {Message(13004, "r-delete", keyArg(sub, R"(,"name":"greeting")")), "r-delete", "true"},
      {Message(13003, "r-gone", keyArg(sub, R"(,"name":"greeting")")), "r-gone", "false"},
      {Message(13005, "r-key", keyArg("\\" + sub)), "r-key", "true"},
      {Message(13006, "r-deletekey", keyArg(key)), "r-deletekey", "true"},
      {Message(13005, "r-nokey", keyArg(sub)), "r-nokey", "false"},
      {Message(13006, "r-deleteagain", keyArg(key)), "r-deleteagain", "false"},
      {Message(13002, "r-noname", keyArg(sub)), "r-noname", "\"Missing value name.\"", false},
      {Message(13005, "r-nokeyarg"), "r-nokeyarg", "\"Missing registry key.\"", false},
      // Wine has no notification centre.
      {Message(11004, "n-toast", R"({"name":"n1","title":"Title","body":"Body"})"), "n-toast", "false"},
  };
  std::vector<std::string> commands;
  for (const auto& c : cases) commands.push_back(c.message);
  const auto scenario = Scenario("shell", commands);
  const Process p = Start(Package("shell.exe", Settings(NewAppId("shell"), "Shell")), scenario.env);
  const std::function<bool()> longReplied = [&] { return Replies::Of(scenario.Read()).Has("s-long"); };
  // Whatever happens, the command is let go before the test's folder goes.
  struct Release {
    const fs::path& gate;
    const std::function<bool()>& ended;
    ~Release() {
      std::ofstream(gate) << "go";
      WaitUntil(ended, Milliseconds(5000));
    }
  } release{gate, longReplied};
  // A window held up by the command would answer nothing more, and the
  // command would never end.
  ASSERT_TRUE(WaitUntil([&] { return Replies::Of(scenario.Read()).byUuid.size() == std::size(cases) - 1; },
                        Milliseconds(20000)));
  EXPECT_FALSE(longReplied());
  std::ofstream(gate) << "go";
  ASSERT_TRUE(WaitUntil(longReplied));
  const Replies replies = Replies::Of(scenario.Read());
  for (const auto& c : cases) {
    ASSERT_TRUE(replies.Has(c.uuid)) << c.uuid;
    EXPECT_EQ(replies.byUuid.at(c.uuid).second, Reply(c.uuid, c.result, c.success)) << c.uuid;
  }
  EXPECT_EQ(replies.byUuid.at("s-long").first, std::size(cases) - 1);
  HKEY left = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, win32::Widen(key).c_str(), 0, KEY_READ, &left), ERROR_SUCCESS);
  if (left) RegCloseKey(left);
}

// The WebView2 variables among lines "NAME=value" as `set` prints them.
std::map<std::string, std::string> Variables(std::string_view text) {
  std::map<std::string, std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos && line.rfind("WEBVIEW2_", 0) == 0) out[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return out;
}

// The runtime sets the WebView2 variables for its own web view; a program the
// page starts gets the environment the runtime was started with.
TEST_F(BridgeCommands, ProgramsThePageStartsGetTheEnvironmentTheRuntimeWasStartedWith) {
  const std::map<std::string, std::string> parent = {
      {"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", "C:\\browser"},
      {"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", "1"},
      {"WEBVIEW2_CHANNEL_SEARCH_KIND", "1"},
      {"WEBVIEW2_RELEASE_CHANNELS", "0,1,2"},
  };
  Environment env = {{"WEBVIEW2_USER_DATA_FOLDER", std::nullopt}, {"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", std::nullopt}};
  for (const auto& [name, value] : parent) env.emplace_back(name, value);
  const fs::path executed = dir_ / "executed.txt";
  const auto scenario = Scenario(
      "environment",
      {Message(70003, "command", R"({"command":"set"})"),
       Message(70001, "execute",
               "{\"filePath\":\"cmd.exe\",\"arguments\":" + JsonString("/C set > \"" + Utf8(executed) + "\"") +
                   "}")},
      env);
  const Process p = Start(Package("environment.exe", Settings(NewAppId("environment"), "Environment")), scenario.env);
  ASSERT_TRUE(WaitUntil([&] { return Replies::Of(scenario.Read()).Has("command") && fs::exists(executed); }));
  const Transcript t = scenario.Read();
  // The reply's result is the output as a JSON string.
  std::string output;
  const std::string reply = Replies::Of(t).byUuid.at("command").second;
  const std::string quoted = reply.substr(reply.find("\"result\": \"") + 11);
  for (size_t i = 0; i + 2 < quoted.size(); ++i) {
    if (quoted[i] != '\\') {
      output += quoted[i];
      continue;
    }
    const char c = quoted[++i];
    output += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  EXPECT_EQ(Variables(output), parent) << output;
  ASSERT_TRUE(WaitUntil([&] { return Variables(ReadFile(executed)) == parent; }, Milliseconds(5000)))
      << ReadFile(executed);
  // The web view itself got the runtime's.
  std::map<std::string, std::string> webView;
  for (const auto& line : t.Of("env")) webView[line[1]] = line[2];
  EXPECT_NE(webView["WEBVIEW2_USER_DATA_FOLDER"], "(unset)");
  EXPECT_EQ(webView["WEBVIEW2_RELEASE_CHANNELS"], "(unset)");
  EXPECT_EQ(webView["WEBVIEW2_CHANNEL_SEARCH_KIND"], "(unset)");
  EXPECT_EQ(webView["WEBVIEW2_BROWSER_EXECUTABLE_FOLDER"], "(unset)");
}

}  // namespace
}  // namespace vtl::e2e
