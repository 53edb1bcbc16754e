#include "core/menu_model.h"

#include "core/bridge/arguments.h"
#include "core/runtime_zip.h"
#include "core/settings.h"

namespace vtl {
namespace {

// The member's JSON text when it is present: it exists and is no object or
// array. Null is present and reads as "null".
bool MemberText(const JsonValue& object, std::string_view key, std::string& text) {
  const JsonValue* member = object.Find(key);
  if (member == nullptr) return false;
  switch (member->kind()) {
    case JsonValue::Kind::Null: text = "null"; return true;
    case JsonValue::Kind::True: text = "true"; return true;
    case JsonValue::Kind::False: text = "false"; return true;
    case JsonValue::Kind::Number:
    case JsonValue::Kind::String: text = member->text(); return true;
    default: return false;
  }
}

}  // namespace

bool ParseMenuItemId(std::string_view text, int32_t& id) { return ParseSettingsInteger(text, id); }

std::string MenuImageName(std::string_view format, int n) {
  std::string name(format);
  const size_t at = name.find("%d");
  if (at != std::string::npos) name.replace(at, 2, std::to_string(n));
  return name;
}

void LoadMenuItemImage(const MenuContext& context, std::string_view path, MenuItem& item) {
  std::string buffer;
  bool found = false;
  if (context.archive != nullptr && context.archive->IsOpen()) {
    const int64_t index = context.archive->FindEntry(path);
    if (index >= 0) {
      found = true;
      // A damaged entry gives no image, as an empty one does: the item keeps
      // what it had and the command answers. Never a part of it decoded.
      if (!context.archive->ExtractEntry(index, buffer)) return;
    }
  }
  if (!found) {
    const std::string name(path);
    if (!context.menu.ReadFileIfExists(context.menu.ExecutableDir() + name, buffer)) {
      context.menu.ReadFileIfExists(name, buffer);
    }
  }
  if (buffer.empty()) return;

  const int n = context.menu.ImageCount();
  const std::string imageName = MenuImageName(context.imageNameFormat, n);
  context.menu.AddImage(imageName, buffer);
  item.ImageName = imageName;
  item.ImageIndex = n;
}

bool BuildMenuItem(const MenuContext& context, const JsonValue& element, MenuItem& item) {
  if (!element.IsObject()) throw EConvertError("Invalid class typecast");

  std::string idText;
  std::string caption;
  if (!MemberText(element, "caption", caption) || !MemberText(element, "id", idText)) return false;

  int32_t id = 0;
  if (!ParseMenuItemId(idText, id)) id = 0;
  item.Tag = id;
  item.Caption = std::move(caption);

  std::string text;
  if (MemberText(element, "enabled", text)) {
    // GetBoolArg would take null for absent; here it is the text "null".
    if (element.Find("enabled")->IsNull()) throw EConvertError("'null' is not a valid boolean value");
    item.Enabled = GetBoolArg(element, "enabled", true, context.decimalSeparator);
  }
  if (MemberText(element, "image", text)) LoadMenuItemImage(context, text, item);

  const JsonValue* items = element.Find("items");
  if (items == nullptr) {
    item.clickable = true;
    return true;
  }
  if (!items->IsArray()) return false;
  item.submenu = true;
  for (const JsonValue& child : items->items()) {
    if (!BuildMenuItem(context, child, item.Add())) return false;
  }
  return true;
}

MenuItem* FindMenuItemByTag(MenuItem& item, long long id) {
  if (item.Tag == id) return &item;
  for (const auto& child : item.items) {
    if (MenuItem* found = FindMenuItemByTag(*child, id)) return found;
  }
  return nullptr;
}

MenuItem* FindMenuItem(MenuTarget& menu, long long id) {
  for (const auto& top : menu.Root().items) {
    if (MenuItem* found = FindMenuItemByTag(*top, id)) return found;
  }
  return nullptr;
}

}  // namespace vtl
