#pragma once

// The menu item JSON model and the procedures that build, search and update
// menus from it. The main menu and the tray menu share them; each passes its
// own menu, image name format and click handler.
//
// A menu item object has the members "id" (integer, as number or text),
// "caption" (text), "enabled" (Boolean, as such or as text), "image" (a file
// name) and "items" (an array of item objects). A member counts as present
// when it exists and is no object or array; null reads as the text "null".

#include <cstdint>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/platform/menus.h"

namespace vtl {

class RuntimeZip;

inline constexpr std::string_view kMainMenuImageNameFormat = "MainMenuImg%d";
inline constexpr std::string_view kTrayMenuImageNameFormat = "TrayMenuImg%d";

struct MenuContext {
  MenuTarget& menu;
  std::string_view imageNameFormat;     // "%d" stands for the image's index
  const RuntimeZip* archive = nullptr;  // the package; none: files only
  std::string decimalSeparator = ".";   // the user's, for "enabled" numbers in text
};

// Decimal with an optional sign, or hexadecimal after "$" or "0x", within 32
// bits. False for any other text.
bool ParseMenuItemId(std::string_view text, int32_t& id);

// Fills `item` from one element of an item list, its sub-items included.
// Returns false when the element, or one below it, is malformed (no "id", no
// "caption", or "items" that is not an array): building stops there, and the
// caller empties the whole menu. Raises EConvertError for an element that is
// no object and for an "enabled" that is no Boolean, and EInvalidGraphic for
// image bytes the decoder cannot read; what was built until then stays. A
// damaged package entry named as the image gives no image.
bool BuildMenuItem(const MenuContext& context, const JsonValue& element, MenuItem& item);

// Gives the item the image named by `path`: the package entry of that name,
// else the file of that name beside the executable, else the file at the path
// itself. When none exists the item keeps its image. The image joins the
// collection under the format and the collection's size, and is never removed
// before the menu is rebuilt.
void LoadMenuItemImage(const MenuContext& context, std::string_view path, MenuItem& item);

// The item itself when its Tag is `id`, else the first match among its
// sub-items, searched the same way; nullptr when none matches.
MenuItem* FindMenuItemByTag(MenuItem& item, long long id);

// The first item of the menu with that id, in pre-order: a parent before its
// sub-items, top-level items in order.
MenuItem* FindMenuItem(MenuTarget& menu, long long id);

// Replaces "%d" in the format with n.
std::string MenuImageName(std::string_view format, int n);

}  // namespace vtl
