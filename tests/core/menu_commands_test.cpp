// The main menu and tray commands, driven through the dispatcher with menus
// kept in memory.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/bridge/browser_external_module.h"
#include "core/json.h"
#include "core/menu_model.h"
#include "core/package_password.h"
#include "core/platform/app_environment.h"
#include "core/platform/menus.h"
#include "core/runtime_zip.h"
#include "core/str_utils.h"
#include "test_support.h"

namespace vtl {
namespace {

// Item text: "tag:caption", then "!" when disabled, "@n" for image n, "{...}"
// for a submenu, "~" for an item that is neither leaf nor submenu.
std::string Describe(const MenuItem& item);

std::string DescribeItems(const MenuItem& parent) {
  std::string text;
  for (const auto& child : parent.items) {
    if (!text.empty()) text += ',';
    text += Describe(*child);
  }
  return text;
}

std::string Describe(const MenuItem& item) {
  std::string text = std::to_string(item.Tag) + ":" + item.Caption;
  if (!item.Enabled) text += '!';
  if (item.ImageIndex >= 0) text += '@' + std::to_string(item.ImageIndex);
  if (item.submenu) text += '{' + DescribeItems(item) + '}';
  if (!item.submenu && !item.clickable) text += '~';
  return text;
}

// Images "decode" when their bytes start with "IMG".
template <class Base>
class MemoryMenu : public Base {
 public:
  void ItemsChanged() override { drawn = DescribeItems(this->Root()); }
  int ImageCount() const override { return static_cast<int>(images.size()); }
  void ClearImages() override { images.clear(); }
  void AddImage(const std::string& name, std::string_view bytes) override {
    if (bytes.substr(0, 3) != "IMG") throw EInvalidGraphic("not an image");
    images.push_back(name + "=" + std::string(bytes));
  }
  std::string ExecutableDir() const override { return "C:\\app\\"; }
  bool ReadFileIfExists(const std::string& path, std::string& bytes) const override {
    const auto it = files.find(path);
    if (it == files.end()) return false;
    bytes = it->second;
    return true;
  }

  std::string Items() const { return DescribeItems(this->Root()); }

  std::string drawn = "(never drawn)";  // what the platform was last told to draw
  std::vector<std::string> images;      // "name=bytes"
  std::map<std::string, std::string> files;
};

class MemoryMainMenu : public MemoryMenu<MenuService> {
 public:
  void AttachToMainWindow() override { attached = true; }
  bool attached = false;
};

class MemoryTray : public MemoryMenu<TrayService> {
 public:
  void ShowIcon() override { visible = true; }
  void HideIcon() override {
    if (visible && refuseRemoval) throw Error("Cannot remove shell notification icon");
    visible = false;
  }
  bool IconVisible() const override { return visible; }
  bool visible = false;
  bool refuseRemoval = false;
};

class RecordingWebView : public WebViewPort {
 public:
  void PostWebMessageAsJson(const std::string& json) override { posts.push_back(json); }
  void ExecuteScript(const std::string& script) override { scripts.push_back(script); }
  double ZoomFactor() const override { return 1.0; }
  void SetZoomFactor(double) override {}
  std::vector<std::string> posts;
  std::vector<std::string> scripts;
};

constexpr int kMainSetItems = 12001, kMainUpdateItem = 12002;
constexpr int kTrayShowIcon = 14001, kTrayHideIcon = 14002, kTraySetItems = 14003, kTrayUpdateItem = 14004;

// {"items": "<list as JSON text>"}
std::string Items(std::string_view list) { return "{\"items\": " + TStrUtils::StringToJsonString(list) + "}"; }

// The user's regional decimal separator; the rest of the environment is not asked.
struct RegionalEnvironment : AppEnvironment {
  std::string ModuleFileName() override { return "C:\\app\\app.exe"; }
  std::string CommandLine() override { return ""; }
  std::string ExecutableDir() override { return "C:\\app\\"; }
  std::string TempDir() override { return ""; }
  std::string UserDocumentsDir() override { return ""; }
  std::string UserDesktopDir() override { return ""; }
  std::string UserAppDataDir() override { return ""; }
  std::string DecimalSeparator() override { return decimalSeparator; }
  std::string decimalSeparator = ".";
};

struct MenuBridge {
  RecordingWebView webView;
  MemoryMainMenu mainMenu;
  MemoryTray tray;
  RegionalEnvironment environment;
  TBrowserExternalModule module{
      BridgeServices{.webView = &webView, .environment = &environment, .mainMenu = &mainMenu, .tray = &tray}};
  std::vector<std::string> errors;

  MenuBridge() {
    module.OnUnhandledError = [this](const std::string& message) { errors.push_back(message); };
  }

  // The reply's result ("true"), an error's text after "!", or "(none)".
  std::string Call(int id, const std::string& data) {
    const size_t before = webView.posts.size();
    module.EdgeBrowserWebMessageReceived("{\"id\": " + std::to_string(id) + ", \"uuid\": \"u\", \"data\": " + data + "}");
    if (webView.posts.size() == before) return "(none)";
    EXPECT_EQ(webView.posts.size(), before + 1) << "more than one reply to " << data;
    const std::optional<JsonValue> reply = ParseJson(webView.posts.back());
    if (!reply) return "(reply is no JSON) " + webView.posts.back();
    const JsonValue& result = *reply->Find("result");
    if (reply->Find("success")->kind() != JsonValue::Kind::True) return "!" + result.text();
    return result.kind() == JsonValue::Kind::True ? "true" : "(unexpected) " + webView.posts.back();
  }
};

TEST(MainMenuSetItems, RepliesAndBuiltMenus) {
  struct Case {
    std::string data;
    const char* reply;
    const char* items;  // the menu afterwards
  };
  const std::string deep = std::string(10'000, '[') + std::string(10'000, ']');
  const Case cases[] = {
      {Items("[]"), "true", ""},
      {Items(R"([{"id": 1, "caption": "&File", "items": [{"id": 2, "caption": "Open"}, {"id": 3, "caption": "-"}]},
                 {"id": "4", "caption": "Help", "items": []}])"),
       "true", "1:&File{2:Open,3:-},4:Help{}"},
      // Ids: decimal, "$" and "0x" hexadecimal, anything else 0.
      {Items(R"([{"id": "abc", "caption": "a"}, {"id": "$1F", "caption": "b"}, {"id": "0x10", "caption": "c"},
                 {"id": 1.5, "caption": "d"}, {"id": null, "caption": "e"}, {"id": "-7", "caption": "f"},
                 {"id": "99999999999", "caption": "g"}])"),
       "true", "0:a,31:b,16:c,0:d,0:e,-7:f,0:g"},
      // Captions: numbers and Booleans as their JSON text, null as "null".
      {Items(R"([{"id": 1, "caption": 12.50}, {"id": 2, "caption": true}, {"id": 3, "caption": null}])"), "true",
       "1:12.50,2:true,3:null"},
      // Enabled: Booleans, words in any case, numbers; an object counts as absent.
      {Items(R"([{"id": 1, "caption": "a", "enabled": false}, {"id": 2, "caption": "b", "enabled": "FALSE"},
                 {"id": 3, "caption": "c", "enabled": "0"}, {"id": 4, "caption": "d", "enabled": 0},
                 {"id": 5, "caption": "e", "enabled": "-2.5"}, {"id": 6, "caption": "f", "enabled": {}},
                 {"id": 7, "caption": "g", "enabled": "True"}])"),
       "true", "1:a!,2:b!,3:c!,4:d!,5:e,6:f,7:g"},
      // Unknown members are ignored; an image that names nothing is no error.
      {Items(R"([{"id": 1, "caption": "a", "image": "nowhere.png", "shortcut": "Ctrl+A"}])"), "true", "1:a"},
      {"{}", "!Missing menu items", "9:Old"},
      {Items(""), "!Missing menu items", "9:Old"},
      {R"({"items": null})", "!Missing menu items", "9:Old"},
      {Items("not json"), "!Wrong menu items JSON", ""},
      {Items(R"({"id": 1, "caption": "a"})"), "!Wrong menu items JSON", ""},
      {Items("\"[]\""), "!Wrong menu items JSON", ""},
      {Items(deep), "!Wrong menu items JSON", ""},
      // Malformed items anywhere empty the whole menu.
      {Items(R"([{"id": 1, "caption": "a"}, {"id": 2}])"), "!Wrong menu item JSON", ""},
      {Items(R"([{"id": 1, "caption": "a", "items": [{"caption": "no id"}]}, {"id": 3, "caption": "c"}])"),
       "!Wrong menu item JSON", ""},
      {Items(R"([{"id": 1, "caption": {}}])"), "!Wrong menu item JSON", ""},
      {Items(R"([{"id": [1], "caption": "a"}])"), "!Wrong menu item JSON", ""},
      {Items(R"([{"id": 1, "caption": "a", "items": null}])"), "!Wrong menu item JSON", ""},
      {Items(R"([{"id": 1, "caption": "a", "items": {}}])"), "!Wrong menu item JSON", ""},
      {Items(R"([{"id": 1, "caption": "a", "items": "[]"}])"), "!Wrong menu item JSON", ""},
      // Conversion errors: no reply, and what was built before stays.
      {R"({"items": [{"id": 1, "caption": "a"}]})", "(none)", "9:Old"},
      {R"({"items": {}})", "(none)", "9:Old"},
      {Items(R"([{"id": 1, "caption": "a"}, 5, {"id": 3, "caption": "c"}])"), "(none)", "1:a,0:~"},
      {Items(R"([{"id": 1, "caption": "a"}, {"id": 2, "caption": "b", "enabled": "yes"}])"), "(none)", "1:a,2:b~"},
      {Items(R"([{"id": 1, "caption": "a", "enabled": null}])"), "(none)", "1:a~"},
      {Items(R"([{"id": 1, "caption": "a", "items": [{"id": 2, "caption": "b"}, []]}])"), "(none)",
       "1:a{2:b,0:~}"},
  };
  for (const Case& c : cases) {
    MenuBridge b;
    ASSERT_EQ(b.Call(kMainSetItems, Items(R"([{"id": 9, "caption": "Old"}])")), "true");
    EXPECT_EQ(b.Call(kMainSetItems, c.data), c.reply) << c.data;
    EXPECT_EQ(b.mainMenu.Items(), c.items) << c.data;
    // The platform draws what the tree holds, also after an error part-way.
    EXPECT_EQ(b.mainMenu.drawn, b.mainMenu.Items()) << c.data;
    EXPECT_EQ(b.errors.empty(), std::string(c.reply) != "(none)") << c.data;
    EXPECT_EQ(b.tray.Items(), "") << "the tray menu is not touched";
  }
}

TEST(MainMenuSetItems, AttachesTheMenuBarOnlyWhenItemsAreGiven) {
  MenuBridge b;
  EXPECT_EQ(b.Call(kMainSetItems, "{}"), "!Missing menu items");
  EXPECT_FALSE(b.mainMenu.attached);
  EXPECT_EQ(b.Call(kMainSetItems, Items("[]")), "true");
  EXPECT_TRUE(b.mainMenu.attached);
  EXPECT_FALSE(b.tray.visible);
}

TEST(MainMenuSetItems, NestingUpToTheParsersDepthBuilds) {
  // 255 item levels nest 510 JSON levels deep.
  std::string list = "[]";
  for (int level = 255; level >= 1; --level) {
    list = "[{\"id\": " + std::to_string(level) + ", \"caption\": \"c\", \"items\": " + list + "}]";
  }
  MenuBridge b;
  EXPECT_EQ(b.Call(kMainSetItems, Items(list)), "true");
  EXPECT_EQ(b.Call(kMainUpdateItem, R"({"id": 255, "caption": "deepest"})"), "true");
  const MenuItem* item = FindMenuItem(b.mainMenu, 255);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Caption, "deepest");
}

const char* const kUpdateMenu =
    R"([{"id": 1, "caption": "&File", "items": [{"id": 2, "caption": "Open"}, {"id": 2, "caption": "Twin"},
         {"id": "abc", "caption": "Zero"}]}, {"id": 3, "caption": "Help"}])";

TEST(MainMenuUpdateItem, RepliesAndChangedItems) {
  struct Case {
    const char* data;
    const char* reply;
    const char* items;
  };
  const Case cases[] = {
      {"{}", "!Missing item ID", nullptr},
      {R"({"id": ""})", "!Missing item ID", nullptr},
      {R"({"id": null})", "!Missing item ID", nullptr},
      {R"({"id": "x"})", "!Wrong item ID", nullptr},
      {R"({"id": -1, "caption": "N"})", "!Wrong item ID", nullptr},
      {R"({"id": "$FFFFFFFF", "caption": "N"})", "!Wrong item ID", nullptr},
      {R"({"id": 2.0})", "!Wrong item ID", nullptr},
      {R"({"id": 99, "caption": "N"})", "true", nullptr},
      // The first item in pre-order, a parent before its sub-items.
      {R"({"id": 2, "caption": "New"})", "true", "1:&File{2:New,2:Twin,0:Zero},3:Help"},
      {R"({"id": "0", "caption": "Z"})", "true", "1:&File{2:Open,2:Twin,0:Z},3:Help"},
      {R"({"id": "$3", "caption": "H"})", "true", "1:&File{2:Open,2:Twin,0:Zero},3:H"},
      {R"({"id": 1, "caption": "", "enabled": false})", "true", "1:&File!{2:Open,2:Twin,0:Zero},3:Help"},
      {R"({"id": 3, "caption": null, "enabled": "0"})", "true", "1:&File{2:Open,2:Twin,0:Zero},3:Help!"},
      {R"({"id": 3, "enabled": ""})", "true", nullptr},
      {R"({"id": 3, "caption": 7})", "true", "1:&File{2:Open,2:Twin,0:Zero},3:7"},
      // Conversion errors: no reply.
      {R"({"id": 3, "enabled": "yes"})", "(none)", nullptr},
      {R"({"id": 3, "caption": {}})", "(none)", nullptr},
      {R"({"id": [3]})", "(none)", nullptr},
  };
  for (const Case& c : cases) {
    MenuBridge b;
    ASSERT_EQ(b.Call(kMainSetItems, Items(kUpdateMenu)), "true");
    const std::string before = b.mainMenu.Items();
    EXPECT_EQ(b.Call(kMainUpdateItem, c.data), c.reply) << c.data;
    EXPECT_EQ(b.mainMenu.Items(), c.items ? c.items : before) << c.data;
    EXPECT_EQ(b.mainMenu.drawn, b.mainMenu.Items()) << c.data;
  }
}

TEST(MenuItemEnabled, NumbersInTextFollowTheRegionalDecimalSeparator) {
  struct Case {
    const char* separator;
    const char* enabled;  // the member's JSON value
    const char* item;     // the item afterwards; nullptr: a conversion error, no reply
  };
  const Case cases[] = {
      {".", R"("0.0")", "1:a!"},
      {".", R"("0,5")", nullptr},
      {",", R"("0,0")", "1:a!"},
      {",", R"("-1,5e2")", "1:a"},
      {",", R"("0.5")", nullptr},
      {",", "0.5", "1:a"},  // a JSON number is written with "." everywhere
      {",", R"("FALSE")", "1:a!"},
      {"\xD9\xAB", "\"0\xD9\xAB" "0\"", "1:a!"},  // U+066B, the Arabic decimal separator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.separator) + " " + c.enabled);
    MenuBridge b;
    b.environment.decimalSeparator = c.separator;
    const std::string item = std::string(R"([{"id": 1, "caption": "a", "enabled": )") + c.enabled + "}]";
    EXPECT_EQ(b.Call(kMainSetItems, Items(item)), c.item ? "true" : "(none)");
    if (c.item) {
      EXPECT_EQ(b.mainMenu.Items(), c.item);
    }
    ASSERT_EQ(b.Call(kTraySetItems, Items(R"([{"id": 1, "caption": "a"}])")), "true");
    EXPECT_EQ(b.Call(kTrayUpdateItem, std::string(R"({"id": 1, "enabled": )") + c.enabled + "}"),
              c.item ? "true" : "(none)");
    EXPECT_EQ(b.tray.Items(), c.item ? c.item : "1:a");
  }
}

TEST(MenuUpdateItem, NoMenuItems) {
  MenuBridge b;
  EXPECT_EQ(b.Call(kMainUpdateItem, R"({"id": 1})"), "!No menu items");
  EXPECT_EQ(b.Call(kMainSetItems, Items("[]")), "true");
  EXPECT_EQ(b.Call(kMainUpdateItem, R"({"id": 1})"), "!No menu items");
  // The tray has its own items: the main menu's do not count.
  EXPECT_EQ(b.Call(kMainSetItems, Items(kUpdateMenu)), "true");
  EXPECT_EQ(b.Call(kTrayUpdateItem, R"({"id": 1, "caption": "x"})"), "!No menu items");
  // A malformed list leaves the menu empty.
  EXPECT_EQ(b.Call(kMainSetItems, Items(R"([{"id": 1}])")), "!Wrong menu item JSON");
  EXPECT_EQ(b.Call(kMainUpdateItem, R"({"id": 1})"), "!No menu items");
}

// Images: the package first, then beside the executable, then the path itself.
class MenuImages : public ::testing::Test {
 protected:
  MenuImages() {
    const std::vector<uint8_t> bytes = test::MakeZip(
        {{"app/open.png", "IMG-zip"}, {"app/broken.png", "not an image"}, {"app/empty.png", ""},
         {"app/damaged.png", "IMG-damaged"}},
        kPackagePassword);
    archiveBytes_.assign(bytes.begin(), bytes.end());
    // Its data no longer decrypts to what the check byte and CRC say.
    const std::string_view archive(reinterpret_cast<const char*>(archiveBytes_.data()), archiveBytes_.size());
    const size_t damaged = archive.find("app/damaged.png");
    archiveBytes_[damaged + 15 + 14] ^= 0x5A;
    zip_.SetPassword(kPackagePassword);
    zip_.Open(archiveBytes_);
    b.module.ExeZip = &zip_;
    for (auto* files : {&b.mainMenu.files, &b.tray.files}) {
      (*files)["C:\\app\\app/open.png"] = "IMG-beside";  // the package's copy wins
      (*files)["C:\\app\\app/damaged.png"] = "IMG-beside";  // even when damaged
      (*files)["C:\\app\\icons\\save.png"] = "IMG-beside";
      (*files)["icons\\save.png"] = "IMG-cwd";
      (*files)["D:\\full\\quit.ico"] = "IMG-full";
      (*files)["C:\\app\\text.txt"] = "hello";
    }
  }
  MenuBridge b;

 private:
  std::vector<uint8_t> archiveBytes_;
  RuntimeZip zip_;
};

TEST_F(MenuImages, LookupOrderAndNames) {
  EXPECT_EQ(b.Call(kMainSetItems, Items(R"([{"id": 1, "caption": "a", "image": "APP/Open.png"},
      {"id": 2, "caption": "b", "image": "icons\\save.png"}, {"id": 3, "caption": "c", "image": "D:\\full\\quit.ico"},
      {"id": 4, "caption": "d", "image": "missing.png"}, {"id": 5, "caption": "e", "image": "app/empty.png"}])")),
            "true");
  EXPECT_EQ(b.mainMenu.Items(), "1:a@0,2:b@1,3:c@2,4:d,5:e");
  EXPECT_EQ(b.mainMenu.images,
            (std::vector<std::string>{"MainMenuImg0=IMG-zip", "MainMenuImg1=IMG-beside", "MainMenuImg2=IMG-full"}));
  EXPECT_EQ(FindMenuItem(b.mainMenu, 2)->ImageName, "MainMenuImg1");
}

TEST_F(MenuImages, UpdatesAddImagesAndSetItemsClearsThem) {
  const std::string list = Items(R"([{"id": 1, "caption": "a", "image": "app/open.png"}, {"id": 2, "caption": "b"}])");
  EXPECT_EQ(b.Call(kTraySetItems, list), "true");
  EXPECT_EQ(b.Call(kTrayUpdateItem, R"({"id": 1, "image": "D:\\full\\quit.ico"})"), "true");
  EXPECT_EQ(b.Call(kTrayUpdateItem, R"({"id": 2, "image": "missing.png"})"), "true");
  EXPECT_EQ(b.tray.Items(), "1:a@1,2:b");
  EXPECT_EQ(b.tray.images, (std::vector<std::string>{"TrayMenuImg0=IMG-zip", "TrayMenuImg1=IMG-full"}));
  EXPECT_TRUE(b.mainMenu.images.empty()) << "the main menu's images are its own";

  EXPECT_EQ(b.Call(kTraySetItems, list), "true");
  EXPECT_EQ(b.tray.images, (std::vector<std::string>{"TrayMenuImg0=IMG-zip"}));
}

TEST_F(MenuImages, ADamagedEntryGivesNoImageAndTheReply) {
  EXPECT_EQ(b.Call(kMainSetItems, Items(R"([{"id": 1, "caption": "a", "image": "app/damaged.png"},
      {"id": 2, "caption": "b", "image": "app/open.png"}])")),
            "true");
  EXPECT_EQ(b.Call(kMainUpdateItem, R"({"id": 2, "image": "app/damaged.png"})"), "true");
  EXPECT_EQ(b.mainMenu.Items(), "1:a,2:b@0");
  EXPECT_EQ(b.mainMenu.images, std::vector<std::string>{"MainMenuImg0=IMG-zip"});
  EXPECT_TRUE(b.errors.empty());
}

TEST_F(MenuImages, DataThatIsNoImageEndsTheCommandWithoutReply) {
  for (const char* path : {"app/broken.png", "text.txt"}) {
    MenuBridge& m = b;
    m.errors.clear();
    const std::string list = std::string(R"([{"id": 1, "caption": "a"}, {"id": 2, "caption": "b", "image": ")") +
                             path + R"("}, {"id": 3, "caption": "c"}])";
    EXPECT_EQ(m.Call(kMainSetItems, Items(list)), "(none)") << path;
    EXPECT_EQ(m.errors.size(), 1u) << path;
    EXPECT_EQ(m.mainMenu.Items(), "1:a,2:b~") << path;
    EXPECT_TRUE(m.mainMenu.images.empty()) << path;
    EXPECT_EQ(m.Call(kMainUpdateItem, std::string(R"({"id": 1, "image": ")") + path + "\"}"), "(none)") << path;
    EXPECT_EQ(m.mainMenu.Items(), "1:a,2:b~") << path;
  }
}

TEST(MenuClicks, EnabledLeavesRaiseTheirPageEvent) {
  MenuBridge b;
  ASSERT_EQ(b.Call(kMainSetItems, Items(R"([{"id": 1, "caption": "&File", "items": [{"id": 42, "caption": "Go"},
      {"id": 43, "caption": "Off", "enabled": false}, {"id": 44, "caption": "Sub", "items": []}]}])")),
            "true");
  ASSERT_EQ(b.Call(kTraySetItems, Items(R"([{"id": "0x2A", "caption": "Tray"}, {"id": 5, "caption": "Off"}])")),
            "true");
  ASSERT_EQ(b.Call(kTrayUpdateItem, R"({"id": 5, "enabled": false})"), "true");
  const MenuItem& file = *b.mainMenu.Root().items[0];
  for (const auto& item : file.items) b.mainMenu.ItemChosen(*item);
  b.mainMenu.ItemChosen(file);
  for (const auto& item : b.tray.Root().items) b.tray.ItemChosen(*item);
  b.tray.OnIconClick();
  EXPECT_EQ(b.webView.scripts, (std::vector<std::string>{"vtl.events.onMainMenuItemClick(\"42\");",
                                                         "vtl.events.onTrayMenuItemClick(\"42\");",
                                                         "vtl.events.onTrayIconClick();"}));
  // Re-enabled by an update, the item raises its event again.
  ASSERT_EQ(b.Call(kMainUpdateItem, R"({"id": 43, "enabled": "true"})"), "true");
  b.mainMenu.ItemChosen(*file.items[1]);
  EXPECT_EQ(b.webView.scripts.back(), "vtl.events.onMainMenuItemClick(\"43\");");
}

TEST(TrayIcon, ShowAndHide) {
  MenuBridge b;
  EXPECT_EQ(b.Call(kTrayShowIcon, "{}"), "true");
  EXPECT_EQ(b.Call(kTrayShowIcon, "{}"), "true");
  EXPECT_TRUE(b.tray.IconVisible());
  EXPECT_EQ(b.Call(kTrayHideIcon, "{}"), "true");
  EXPECT_FALSE(b.tray.IconVisible());
  EXPECT_EQ(b.Call(kTrayHideIcon, "{}"), "true");

  // A removal the system refuses ends the command without a reply.
  b.tray.refuseRemoval = true;
  EXPECT_EQ(b.Call(kTrayShowIcon, "{}"), "true");
  EXPECT_EQ(b.Call(kTrayHideIcon, "{}"), "(none)");
  ASSERT_EQ(b.errors.size(), 1u);
  EXPECT_EQ(b.errors[0], "Cannot remove shell notification icon");
  EXPECT_TRUE(b.tray.IconVisible());
}

TEST(MenuCommands, WithoutTheirCapabilityAnswerNothing) {
  RecordingWebView webView;
  TBrowserExternalModule module{BridgeServices{.webView = &webView}};
  for (int id : {kMainSetItems, kMainUpdateItem, kTrayShowIcon, kTrayHideIcon, kTraySetItems, kTrayUpdateItem}) {
    module.EdgeBrowserWebMessageReceived("{\"id\": " + std::to_string(id) +
                                         R"(, "uuid": "u", "data": {"items": "[]", "id": 1}})");
  }
  EXPECT_TRUE(webView.posts.empty());
}

}  // namespace
}  // namespace vtl
