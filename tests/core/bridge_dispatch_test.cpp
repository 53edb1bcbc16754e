#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/bridge/arguments.h"
#include "core/bridge/browser_external_module.h"
#include "core/bridge/command_table.h"
#include "core/json.h"
#include "bridge_doubles.h"

namespace vtl {
namespace {

using Dispatch = test::BridgeHarness;

TEST(Json, ParsesValuesAndKeepsNumberText) {
  const auto doc = ParseJson(R"( {"a": [1.50, -0, 2e3, true, null], "b": "x\u00e9\ud83d\ude00\n", "a": 9} )");
  ASSERT_TRUE(doc);
  const JsonValue* a = doc->Find("a");  // the first of two members of that name
  ASSERT_TRUE(a && a->IsArray());
  ASSERT_EQ(a->items().size(), 5u);
  EXPECT_EQ(a->items()[0].text(), "1.50");
  EXPECT_EQ(a->items()[1].text(), "-0");
  EXPECT_EQ(a->items()[2].text(), "2e3");
  EXPECT_EQ(doc->Find("b")->text(), "x\xC3\xA9\xF0\x9F\x98\x80\n");
}

TEST(Json, RefusesWhatIsNotOneValue) {
  for (const char* text : {"", " ", "{", "[1,]", "{\"a\" 1}", "01", "1.", "-", "\"\x01\"", "\"\\x\"", "tru",
                           "{} {}", "[\"\\ud800\"", "nul"}) {
    EXPECT_FALSE(ParseJson(text)) << text;
  }
  EXPECT_EQ(ParseJson(R"("\ud800x")")->text(), "\xEF\xBF\xBDx");
}

TEST(Json, DepthIsBounded) {
  const std::string deep(kMaxJsonDepth, '[');
  EXPECT_TRUE(ParseJson(deep + std::string(kMaxJsonDepth, ']')));
  EXPECT_FALSE(ParseJson("[" + deep + std::string(kMaxJsonDepth + 1, ']')));
  EXPECT_FALSE(ParseJson(std::string(1'000'000, '[')));
}

TEST(ArgumentReaders, ConversionRules) {
  const JsonValue data = *ParseJson(
      R"({"s": "text", "n": 12, "f": 1.50, "t": true, "z": null, "o": {}, "a": [], "T": "TRUE", "y": "yes", "zero": 0, "nz": "-2.5"})");
  EXPECT_EQ(GetStringArg(data, "s", "d"), "text");
  EXPECT_EQ(GetStringArg(data, "n", "d"), "12");
  EXPECT_EQ(GetStringArg(data, "f", "d"), "1.50");
  EXPECT_EQ(GetStringArg(data, "t", "d"), "true");
  EXPECT_EQ(GetStringArg(data, "z", "d"), "d");
  EXPECT_EQ(GetStringArg(data, "missing", "d"), "d");
  EXPECT_THROW(GetStringArg(data, "o", ""), EConvertError);
  EXPECT_THROW(GetStringArg(data, "a", ""), EConvertError);

  EXPECT_TRUE(GetBoolArg(data, "T", false));
  EXPECT_TRUE(GetBoolArg(data, "t", false));
  EXPECT_FALSE(GetBoolArg(data, "zero", true));
  EXPECT_TRUE(GetBoolArg(data, "nz", false));
  EXPECT_TRUE(GetBoolArg(data, "z", true));
  EXPECT_THROW(GetBoolArg(data, "y", false), EConvertError);
  EXPECT_THROW(GetBoolArg(data, "o", false), EConvertError);

  std::string value = "untouched";
  EXPECT_FALSE(TryGetStringArg(data, "o", value));
  EXPECT_FALSE(TryGetStringArg(data, "missing", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_TRUE(TryGetStringArg(data, "z", value));
  EXPECT_EQ(value, "");

  EXPECT_THROW(GetRequiredString(data, "missing"), EJsonMissingValue);
  EXPECT_EQ(GetRequiredString(data, "z"), "");
  EXPECT_TRUE(GetObjectMember(data, "s").members().empty());
  EXPECT_THROW(GetObjectMember(data, "missing"), EJsonMissingValue);
}

TEST(Dispatcher, RepliesAndSilences) {
  struct Case {
    const char* message;
    const char* reply;  // nullptr: no reply
  };
  const Case cases[] = {
      {R"({"id": 10001, "uuid": "u-1", "data": {}})", R"({"uuid": "u-1", "success": true, "result": "2023.1"})"},
      {R"({"id": "10002", "uuid": "u-2", "data": null})", R"({"uuid": "u-2", "success": true, "result": true})"},
      {R"({"id": 10001, "uuid": "a\"b\\c", "data": {}})", R"({"uuid": "a\"b\\c", "success": true, "result": "2023.1"})"},
      // The bridge script's uuids come back byte for byte.
      {R"({"id": 10002, "uuid": "f47ac10b-58cc-4372-a567-0e02b2c3d479", "data": {}})",
       R"({"uuid": "f47ac10b-58cc-4372-a567-0e02b2c3d479", "success": true, "result": true})"},
      {R"({"id": 10002, "uuid": 12, "data": []})", R"({"uuid": "12", "success": true, "result": true})"},
      {R"({"id": 30001, "uuid": "u", "data": {"filePath": "C:\\App\\App.exe"}})",
       R"({"uuid": "u", "success": true, "result": true})"},
      {R"({"id": 30001, "uuid": "u", "data": null})", R"({"uuid": "u", "success": false, "result": "Missing filePath"})"},
      {R"({"id": 30001, "uuid": "u", "data": {"filePath": 12}})", R"({"uuid": "u", "success": true, "result": false})"},
      {R"({"id": 30001, "uuid": "u", "data": {"filePath": {}}})", nullptr},
      {R"({"id": 20002, "uuid": "u", "data": {"overwritePrompt": "TRUE"}})", R"({"uuid": "u", "success": true, "result": ""})"},
      {R"({"id": 20002, "uuid": "u", "data": {"overwritePrompt": "yes"}})", nullptr},
      {R"({"id": 99999, "uuid": "u", "data": {}})", nullptr},
      {R"({"id": "abc", "uuid": "u", "data": {}})", nullptr},
      {R"({"id": 10001.0, "uuid": "u", "data": {}})", nullptr},
      {R"({"id": 10001, "uuid": "u"})", nullptr},
      {R"({"uuid": "u", "data": {}})", nullptr},
      {R"({"id": 10001, "data": {}})", nullptr},
      {"not json", nullptr},
      {R"({"id": {}, "uuid": "u", "data": {}})", nullptr},
  };
  for (const Case& c : cases) {
    Dispatch d;
    d.files.AddFile("C:\\App\\App.exe", "MZ");
    d.module.EdgeBrowserWebMessageReceived(c.message);
    if (c.reply == nullptr) {
      EXPECT_TRUE(d.webView.posts.empty()) << c.message;
    } else {
      ASSERT_EQ(d.webView.posts.size(), 1u) << c.message;
      EXPECT_EQ(d.webView.posts[0], c.reply);
      EXPECT_TRUE(ParseJson(d.webView.posts[0])) << d.webView.posts[0];
    }
  }
}

TEST(Dispatcher, UnhandledErrorsAreReportedNotThrown) {
  Dispatch d;
  d.module.EdgeBrowserWebMessageReceived(R"({"uuid": "u", "data": {}})");
  ASSERT_EQ(d.errors.size(), 1u);
  EXPECT_EQ(d.errors[0], "Value 'id' not found");
}

// Each reply goes to the document that asked: an iframe's to that frame, also
// when it comes after other requests were answered (a dialog left open), and
// none once the frame is gone.
TEST(Dispatcher, RepliesGoToTheDocumentThatAsked) {
  struct Frame : ReplyTarget {
    void PostWebMessageAsJson(const std::string& json) override { posts.push_back(json); }
    std::vector<std::string> posts;
  };
  Dispatch h;
  h.dialogs.hold = true;
  h.dialogs.answers = {"C:\\a.txt", "C:\\b.txt"};
  auto frame = std::make_shared<Frame>(), gone = std::make_shared<Frame>();
  h.module.EdgeBrowserWebMessageReceived(R"({"id": 20001, "uuid": "open", "data": {}})", frame);
  h.module.EdgeBrowserWebMessageReceived(R"({"id": 20001, "uuid": "lost", "data": {}})", gone);
  EXPECT_EQ(h.Call(10002), Dispatch::Reply(true, "true"));  // answered while the dialogs are open
  h.module.EdgeBrowserWebMessageReceived(R"({"id": 10002, "uuid": "f", "data": {}})", frame);
  EXPECT_EQ(frame->posts, (std::vector<std::string>{R"({"uuid": "f", "success": true, "result": true})"}));

  h.dialogs.Close();
  gone.reset();
  h.dialogs.Close();
  EXPECT_EQ(frame->posts.back(), R"({"uuid": "open", "success": true, "result": "C:\\a.txt"})");
  EXPECT_EQ(frame->posts.size(), 2u);
  EXPECT_EQ(h.webView.posts.size(), 1u);  // nothing of the frames' reached the top document
}

TEST(CommandTable, FiftyFiveIdsInOrder) {
  const auto table = CommandTable();
  EXPECT_EQ(table.size(), 55u);
  for (const BridgeCommand& command : table) {
    EXPECT_EQ(FindCommand(command.id), &command);
    EXPECT_NE(command.handler, nullptr);
  }
  // Next to real ids: item 0, one past a block's end, an empty block, out of range.
  for (const int id : {0, -10001, 999, 10000, 10003, 14005, 15001, 60011, 90002, 99999, 100001, 1010001})
    EXPECT_EQ(FindCommand(id), nullptr) << id;
}

TEST(EventScripts, Texts) {
  EXPECT_EQ(CloseQueryEventScript(), "vtl.events.onCloseQuery(); true;");
  EXPECT_EQ(MainMenuItemClickEventScript(42), "vtl.events.onMainMenuItemClick(\"42\");");
  EXPECT_EQ(TrayMenuItemClickEventScript(-1), "vtl.events.onTrayMenuItemClick(\"-1\");");
  EXPECT_EQ(TrayIconClickEventScript(), "vtl.events.onTrayIconClick();");
  EXPECT_EQ(NotificationClickEventScript("a\"b\\c\r\nd\xE2\x80\xA8"),
            "vtl.events.onNotificationClick(\"a\\\"b\\\\c\\r\\nd\\u2028\");");
}

}  // namespace
}  // namespace vtl
