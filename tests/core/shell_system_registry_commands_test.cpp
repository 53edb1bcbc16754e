// The shell, system, notification and registry commands, driven through the
// dispatcher with in-memory platforms: every reply and error text.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/bridge/browser_external_module.h"
#include "core/json.h"
#include "core/platform/notifications.h"
#include "core/platform/power.h"
#include "core/platform/registry.h"
#include "core/platform/shell.h"

namespace vtl {
namespace {

class RecordingWebView : public WebViewPort {
 public:
  void PostWebMessageAsJson(const std::string& json) override { posts.push_back(json); }
  void ExecuteScript(const std::string& script) override { scripts.push_back(script); }
  double ZoomFactor() const override { return 1.0; }
  void SetZoomFactor(double) override {}
  std::vector<std::string> posts;
  std::vector<std::string> scripts;
};

class FakeShell : public ShellService {
 public:
  struct Call {
    std::string what, path, arguments;
  };
  struct Command {
    std::string command, workingDir;
    bool showWindow;
    CommandDone done;
  };
  SystemOutcome ShellExec(const std::string& path, const std::string& arguments) override {
    calls.push_back({"exec", path, arguments});
    return outcome;
  }
  SystemOutcome ShellExplore(const std::string& path) override {
    calls.push_back({"explore", path, ""});
    return outcome;
  }
  void GetDosOutput(const std::string& command, const std::string& workingDir, bool showWindow,
                    CommandDone done) override {
    commands.push_back({command, workingDir, showWindow, std::move(done)});
  }
  std::vector<std::string> GetWindowsCaptions() override { return captions; }

  SystemOutcome outcome = SystemOutcome::Accepted();
  std::vector<Call> calls;
  std::vector<Command> commands;
  std::vector<std::string> captions;
};

class FakePower : public PowerService {
 public:
  SystemOutcome EndSession(PowerAction action) override {
    actions.push_back(static_cast<uint32_t>(action));
    return outcome;
  }
  SystemOutcome outcome = SystemOutcome::Accepted();
  std::vector<uint32_t> actions;
};

class FakeNotifications : public NotificationService {
 public:
  bool HasNotificationCenter() override { return available; }
  void PresentNotification(const Notification& n) override { shown.push_back(n); }
  void SetClickHandler(ClickHandler handler) override { onClick = std::move(handler); }
  bool available = true;
  std::vector<Notification> shown;
  ClickHandler onClick;
};

// Keys are matched exactly; the Win32 adapter's path rules are tested under Wine.
class MemoryRegistry : public RegistryService {
 public:
  struct Value {
    std::string text;
    bool isString = true;
  };
  bool WriteString(const std::string& key, const std::string& name, const std::string& value) override {
    if (key == "locked") return false;
    if (name == "refused") throw ERegistryException("Failed to set data for 'refused'");
    keys[key][name] = {value};
    return true;
  }
  std::string ReadString(const std::string& key, const std::string& name) override {
    const auto k = keys.find(key);
    if (k == keys.end()) return "";
    const auto v = k->second.find(name);
    if (v == k->second.end()) return "";
    if (!v->second.isString) throw ERegistryException("Invalid data type for '" + name + "'");
    return v->second.text;
  }
  bool ValueExists(const std::string& key, const std::string& name) override {
    const auto k = keys.find(key);
    return k != keys.end() && k->second.contains(name);
  }
  bool DeleteValue(const std::string& key, const std::string& name) override {
    const auto k = keys.find(key);
    return k != keys.end() && k->second.erase(name) == 1;
  }
  bool KeyExists(const std::string& key) override { return keys.contains(key); }
  bool DeleteKey(const std::string& key) override { return keys.erase(key) == 1; }
  std::map<std::string, std::map<std::string, Value>> keys;
};

struct Bridge {
  RecordingWebView webView;
  FakeShell shell;
  FakePower power;
  FakeNotifications notifications;
  MemoryRegistry registry;
  std::unique_ptr<TBrowserExternalModule> module;
  std::vector<std::string> errors;

  Bridge() {
    module = std::make_unique<TBrowserExternalModule>(BridgeServices{.webView = &webView,
                                                                     .shell = &shell,
                                                                     .power = &power,
                                                                     .notifications = &notifications,
                                                                     .registry = &registry});
    module->OnUnhandledError = [this](const std::string& message) { errors.push_back(message); };
  }

  // The reply to one request with uuid "u", or "(none)".
  std::string Send(int id, const std::string& data) {
    const size_t before = webView.posts.size();
    module->EdgeBrowserWebMessageReceived(R"({"id": )" + std::to_string(id) + R"(, "uuid": "u", "data": )" + data +
                                          "}");
    if (webView.posts.size() == before) return "(none)";
    EXPECT_EQ(webView.posts.size(), before + 1);
    EXPECT_TRUE(ParseJson(webView.posts.back())) << webView.posts.back();
    return webView.posts.back();
  }
};

std::string Ok(const std::string& result) { return R"({"uuid": "u", "success": true, "result": )" + result + "}"; }
std::string Fail(const std::string& result) {
  return R"({"uuid": "u", "success": false, "result": )" + result + "}";
}

struct Case {
  const char* name;
  int id;
  const char* data;
  std::string reply;
};

void RunCases(Bridge& bridge, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(bridge.Send(c.id, c.data), c.reply) << c.name;
  }
}

constexpr int kExecute = 70001, kExplore = 70002, kCommand = 70003, kWindows = 70004;
constexpr int kLogoff = 11001, kReboot = 11002, kShutdown = 11003, kNotification = 11004;
constexpr int kWrite = 13001, kRead = 13002, kValueExist = 13003, kDeleteValue = 13004, kKeyExist = 13005,
              kDeleteKey = 13006;

TEST(ShellCommands, ExecuteAndExploreReplies) {
  Bridge bridge;
  RunCases(bridge, {
                       {"execute without path", kExecute, R"({"arguments": "x"})", Fail(R"("Missing filePath")")},
                       {"execute with null path", kExecute, R"({"filePath": null})", Fail(R"("Missing filePath")")},
                       {"execute", kExecute, R"({"filePath": "C:\\a b\\doc.txt", "arguments": "-x \"y\""})",
                        Ok("true")},
                       {"execute, number as path", kExecute, R"({"filePath": 12})", Ok("true")},
                       {"explore without path", kExplore, R"({})", Fail(R"("Missing filePath")")},
                       {"explore", kExplore, R"({"filePath": "C:\\a b"})", Ok("true")},
                       // Conversion errors end the request before anything is done.
                       {"execute, object arguments", kExecute, R"({"filePath": "", "arguments": {}})", "(none)"},
                       {"explore, array path", kExplore, R"({"filePath": []})", "(none)"},
                   });
  ASSERT_EQ(bridge.shell.calls.size(), 3u);
  EXPECT_EQ(bridge.shell.calls[0].what, "exec");
  EXPECT_EQ(bridge.shell.calls[0].path, "C:\\a b\\doc.txt");
  EXPECT_EQ(bridge.shell.calls[0].arguments, "-x \"y\"");
  EXPECT_EQ(bridge.shell.calls[1].path, "12");
  EXPECT_EQ(bridge.shell.calls[1].arguments, "");
  EXPECT_EQ(bridge.shell.calls[2].what, "explore");
  EXPECT_EQ(bridge.errors.size(), 2u);

  bridge.shell.outcome = SystemOutcome::Refused("The system cannot find the file \"x\" specified");
  RunCases(bridge, {
                       {"execute refused", kExecute, R"({"filePath": "x"})",
                        Fail(R"("The system cannot find the file \"x\" specified")")},
                       {"explore refused", kExplore, R"({"filePath": "x"})",
                        Fail(R"("The system cannot find the file \"x\" specified")")},
                   });
}

TEST(ShellCommands, CommandIsAnsweredWhenItEndsWithItsWholeOutput) {
  Bridge bridge;
  EXPECT_EQ(bridge.Send(kCommand, R"({"workingDir": "C:\\x"})"), Fail(R"("Missing command")"));
  EXPECT_EQ(bridge.Send(kCommand, R"({"command": "", "workingDir": {}})"), Fail(R"("Missing command")"));
  EXPECT_EQ(bridge.Send(kCommand, R"({"command": "x", "workingDir": {}})"), "(none)");
  ASSERT_TRUE(bridge.shell.commands.empty());

  EXPECT_EQ(bridge.Send(kCommand, R"({"command": "type \"a b.txt\"", "workingDir": "C:\\w"})"), "(none)");
  // Other requests are answered while the command runs.
  EXPECT_EQ(bridge.Send(10001, "{}"), Ok(R"("2023.1")"));
  ASSERT_EQ(bridge.shell.commands.size(), 1u);
  EXPECT_EQ(bridge.shell.commands[0].command, "type \"a b.txt\"");
  EXPECT_EQ(bridge.shell.commands[0].workingDir, "C:\\w");
  EXPECT_FALSE(bridge.shell.commands[0].showWindow);

  const size_t answered = bridge.webView.posts.size();
  bridge.shell.commands[0].done("q\"b\\t\tn\xC3\xA9\r\n");
  ASSERT_EQ(bridge.webView.posts.size(), answered + 1);
  EXPECT_EQ(bridge.webView.posts.back(), Ok("\"q\\\"b\\\\t\\tn\xC3\xA9\\r\\n\""));

  bridge.shell.commands[0].done("");  // as when the process could not start
  EXPECT_EQ(bridge.webView.posts.back(), Ok(R"("")"));
}

TEST(ShellCommands, OnlyTheExactTextTrueShowsTheConsole) {
  const std::pair<const char*, bool> cases[] = {
      {R"({"command": "c"})", false},
      {R"({"command": "c", "showWindow": true})", true},
      {R"({"command": "c", "showWindow": "true"})", true},
      {R"({"command": "c", "showWindow": "TRUE"})", false},
      {R"({"command": "c", "showWindow": 1})", false},
  };
  for (const auto& [data, shown] : cases) {
    Bridge bridge;
    bridge.Send(kCommand, data);
    ASSERT_EQ(bridge.shell.commands.size(), 1u) << data;
    EXPECT_EQ(bridge.shell.commands[0].showWindow, shown) << data;
  }
}

TEST(ShellCommands, OutputArrivingAfterTheModuleIsGoneIsDropped) {
  Bridge bridge;
  bridge.Send(kCommand, R"({"command": "c"})");
  ASSERT_EQ(bridge.shell.commands.size(), 1u);
  bridge.module.reset();
  bridge.shell.commands[0].done("late");
  EXPECT_TRUE(bridge.webView.posts.empty());
}

TEST(ShellCommands, WindowsCaptionsAsAJsonArray) {
  Bridge bridge;
  EXPECT_EQ(bridge.Send(kWindows, "{}"), Ok("[]"));
  bridge.shell.captions = {"  Main \"window\" ", "C:\\x", "Main \"window\""};
  EXPECT_EQ(bridge.Send(kWindows, "{}"), Ok(R"(["  Main \"window\" ","C:\\x","Main \"window\""])"));
}

TEST(SystemCommands, PowerActionsAndTheirRefusal) {
  Bridge bridge;
  RunCases(bridge, {
                       {"logoff", kLogoff, "{}", Ok("true")},
                       {"reboot", kReboot, "{}", Ok("true")},
                       {"shutdown", kShutdown, "{}", Ok("true")},
                   });
  EXPECT_EQ(bridge.power.actions, (std::vector<uint32_t>{4, 6, 5}));

  bridge.power.outcome = SystemOutcome::Refused("A required privilege is not held by the client");
  EXPECT_EQ(bridge.Send(kShutdown, "{}"), Fail(R"("A required privilege is not held by the client")"));
}

TEST(SystemCommands, Notifications) {
  Bridge bridge;
  RunCases(bridge, {
                       {"all three texts", kNotification, R"({"name": "n1", "title": "T", "body": "B"})", Ok("true")},
                       {"no arguments", kNotification, "{}", Ok("true")},
                       {"number as title", kNotification, R"({"title": 12})", Ok("true")},
                       {"object as body", kNotification, R"({"title": "T", "body": {}})", "(none)"},
                   });
  ASSERT_EQ(bridge.notifications.shown.size(), 3u);
  EXPECT_EQ(bridge.notifications.shown[0].name, "n1");
  EXPECT_EQ(bridge.notifications.shown[0].title, "T");
  EXPECT_EQ(bridge.notifications.shown[0].body, "B");
  EXPECT_EQ(bridge.notifications.shown[2].title, "12");

  bridge.notifications.available = false;
  EXPECT_EQ(bridge.Send(kNotification, R"({"title": "T"})"), Ok("false"));
  EXPECT_EQ(bridge.notifications.shown.size(), 3u);
}

TEST(SystemCommands, NotificationClickRaisesThePageEventWithTheNameEscaped) {
  Bridge bridge;
  bridge.module->NotificationCenterReceiveLocalNotification("say \"hi\"\\\n");
  ASSERT_EQ(bridge.webView.scripts.size(), 1u);
  EXPECT_EQ(bridge.webView.scripts[0], R"(vtl.events.onNotificationClick("say \"hi\"\\\n");)");
}

TEST(RegistryCommands, RepliesInOrder) {
  Bridge bridge;
  bridge.registry.keys["Software\\Demo"]["dword"] = {"", false};
  RunCases(
      bridge,
      {
          {"key checked before name", kWrite, R"({"value": "x"})", Fail(R"("Missing registry key.")")},
          {"null key", kRead, R"({"key": null, "name": "n"})", Fail(R"("Missing registry key.")")},
          {"missing name", kWrite, R"({"key": "Software\\Demo"})", Fail(R"("Missing value name.")")},
          {"missing name, read", kRead, R"({"key": "K", "name": ""})", Fail(R"("Missing value name.")")},
          {"missing name, exist", kValueExist, R"({"key": "K"})", Fail(R"("Missing value name.")")},
          {"missing name, delete", kDeleteValue, R"({"key": "K"})", Fail(R"("Missing value name.")")},
          {"missing key, keyExist", kKeyExist, R"({})", Fail(R"("Missing registry key.")")},
          {"missing key, deleteKey", kDeleteKey, R"({"key": ""})", Fail(R"("Missing registry key.")")},
          {"write without value", kWrite, R"({"key": "Software\\Demo", "name": "Greeting"})", Ok("true")},
          {"read the empty value", kRead, R"({"key": "Software\\Demo", "name": "Greeting"})", Ok(R"("")")},
          {"value exists", kValueExist, R"({"key": "Software\\Demo", "name": "Greeting"})", Ok("true")},
          {"write a number", kWrite, R"({"key": "Software\\Demo", "name": "n", "value": 42})", Ok("true")},
          {"read it as text", kRead, R"({"key": "Software\\Demo", "name": "n"})", Ok(R"("42")")},
          {"write text", kWrite, R"({"key": "Software\\Demo", "name": "t", "value": "a\"b\\c\u00e9"})", Ok("true")},
          {"read text", kRead, R"({"key": "Software\\Demo", "name": "t"})", Ok("\"a\\\"b\\\\c\xC3\xA9\"")},
          {"read missing value", kRead, R"({"key": "Software\\Demo", "name": "none"})", Ok(R"("")")},
          {"read missing key", kRead, R"({"key": "Software\\None", "name": "n"})", Ok(R"("")")},
          {"exist, missing value", kValueExist, R"({"key": "Software\\Demo", "name": "none"})", Ok("false")},
          {"key cannot be created", kWrite, R"({"key": "locked", "name": "n"})", Ok("false")},
          {"delete value", kDeleteValue, R"({"key": "Software\\Demo", "name": "n"})", Ok("true")},
          {"delete it again", kDeleteValue, R"({"key": "Software\\Demo", "name": "n"})", Ok("false")},
          {"key exists", kKeyExist, R"({"key": "Software\\Demo"})", Ok("true")},
          // Errors the registry raises end the request without a reply.
          {"read a dword", kRead, R"({"key": "Software\\Demo", "name": "dword"})", "(none)"},
          {"refused write", kWrite, R"({"key": "Software\\Demo", "name": "refused"})", "(none)"},
          {"object as value", kWrite, R"({"key": "Software\\New", "name": "n", "value": {}})", "(none)"},
          {"delete key", kDeleteKey, R"({"key": "Software\\Demo"})", Ok("true")},
          {"key is gone", kKeyExist, R"({"key": "Software\\Demo"})", Ok("false")},
          {"delete missing key", kDeleteKey, R"({"key": "Software\\Demo"})", Ok("false")},
      });
  EXPECT_EQ(bridge.errors.size(), 3u);
  EXPECT_FALSE(bridge.registry.keys.contains("Software\\New")) << "a refused request left a key behind";
}

TEST(Commands, WithoutTheirCapabilityAnswerNothing) {
  RecordingWebView webView;
  TBrowserExternalModule module(BridgeServices{.webView = &webView});
  for (const int id : {kExecute, kExplore, kCommand, kWindows, kLogoff, kReboot, kShutdown, kNotification, kWrite,
                       kRead, kValueExist, kDeleteValue, kKeyExist, kDeleteKey}) {
    module.EdgeBrowserWebMessageReceived(R"({"id": )" + std::to_string(id) + R"(, "uuid": "u", "data": {}})");
  }
  EXPECT_TRUE(webView.posts.empty());
}

}  // namespace
}  // namespace vtl
