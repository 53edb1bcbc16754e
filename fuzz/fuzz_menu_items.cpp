// Menu item lists as the page sends them to mainMenu.setItems: the builder
// never fails on any text, answers each request at most once, leaves the menu
// empty after a malformed item, and the item search and updates work on
// whatever it built.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/bridge/browser_external_module.h"
#include "core/menu_model.h"
#include "core/platform/menus.h"
#include "core/str_utils.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_menu_items: %s\n", what);
    std::abort();
  }
}

// Images "decode" when they start with "IMG"; every image path names a file.
class FuzzMenu : public vtl::MenuService {
 public:
  void AttachToMainWindow() override {}
  void ItemsChanged() override { ++changes; }
  int ImageCount() const override { return images; }
  void ClearImages() override { images = 0; }
  void AddImage(const std::string&, std::string_view bytes) override {
    if (bytes.substr(0, 3) != "IMG") throw vtl::EInvalidGraphic("not an image");
    ++images;
  }
  std::string ExecutableDir() const override { return "C:\\app\\"; }
  bool ReadFileIfExists(const std::string& path, std::string& bytes) const override {
    bytes = path.substr(ExecutableDir().size());
    return true;
  }
  int images = 0;
  int changes = 0;
};

class Replies : public vtl::WebViewPort {
 public:
  void PostWebMessageAsJson(const std::string& json) override { posts.push_back(json); }
  void ExecuteScript(const std::string& script) override { scripts.push_back(script); }
  double ZoomFactor() const override { return 1.0; }
  void SetZoomFactor(double) override {}
  std::vector<std::string> posts;
  std::vector<std::string> scripts;
};

void ChooseAll(const vtl::MenuTarget& menu, const vtl::MenuItem& item) {
  for (const auto& child : item.items) {
    menu.ItemChosen(*child);
    ChooseAll(menu, *child);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Replies webView;
  FuzzMenu menu;
  vtl::TBrowserExternalModule module{vtl::BridgeServices{.webView = &webView, .mainMenu = &menu}};

  const std::string request =
      "{\"id\": 12001, \"uuid\": \"u\", \"data\": {\"items\": " + vtl::TStrUtils::StringToJsonString(text) + "}}";
  module.EdgeBrowserWebMessageReceived(request);
  Require(webView.posts.size() <= 1, "more than one reply");
  Require(menu.changes == 1 || (text.empty() && menu.changes == 0), "the platform was not told of the change");
  if (!webView.posts.empty() && webView.posts[0].find("Wrong menu item") != std::string::npos) {
    Require(menu.Root().items.empty(), "a malformed item left items behind");
  }

  // Every item can be found by its id, the first in pre-order answering.
  for (const auto& top : menu.Root().items) {
    vtl::MenuItem* found = vtl::FindMenuItem(menu, top->Tag);
    Require(found != nullptr && found->Tag == top->Tag, "an item's own id finds nothing");
  }
  if (!menu.Root().items.empty()) {
    const long long id = menu.Root().items.back()->Tag;
    const size_t before = webView.posts.size();
    module.EdgeBrowserWebMessageReceived("{\"id\": 12002, \"uuid\": \"v\", \"data\": {\"id\": " + std::to_string(id) +
                                         ", \"caption\": \"x\", \"enabled\": false, \"image\": \"IMG\"}}");
    Require(webView.posts.size() == before + 1, "an update got no reply");
    Require(id == -1 || vtl::FindMenuItem(menu, id)->Caption == "x", "the update missed its item");
  }
  ChooseAll(menu, menu.Root());
  return 0;
}
