#pragma once

// The menus the page builds from JSON: the main window's menu bar and the tray
// icon's pop-up menu. The core keeps the item tree and decides what it holds;
// the platform draws it, keeps the decoded item images and reports the items
// the user chooses.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"

namespace vtl {

// Image bytes that the platform's decoder cannot read.
class EInvalidGraphic : public Error {
 public:
  using Error::Error;
};

// One menu item. An item with `submenu` opens its sub-items (possibly none)
// and is never chosen; an item with `clickable` is a leaf that raises the
// click event; an item with neither (left empty by an element that was not a
// JSON object) does nothing when chosen.
struct MenuItem {
  long long Tag = 0;  // the item id
  std::string Caption;  // "-" draws a separator line, "&" marks the access key
  bool Enabled = true;
  std::string ImageName;  // empty: no image
  int ImageIndex = -1;    // into the menu's image list
  bool clickable = false;
  bool submenu = false;
  std::vector<std::unique_ptr<MenuItem>> items;

  MenuItem& Add() { return *items.emplace_back(std::make_unique<MenuItem>()); }
};

// A menu with its image collection and image list.
class MenuTarget {
 public:
  MenuTarget() = default;
  MenuTarget(const MenuTarget&) = delete;
  MenuTarget& operator=(const MenuTarget&) = delete;
  virtual ~MenuTarget() = default;

  // The menu's top-level items are the sub-items of this root.
  MenuItem& Root() { return root_; }
  const MenuItem& Root() const { return root_; }

  // The items changed (built, emptied or updated): draw them anew.
  virtual void ItemsChanged() = 0;

  // The image collection: names in collection order; the image list shows
  // image n at index n.
  virtual int ImageCount() const = 0;
  virtual void ClearImages() = 0;
  // Decodes the bytes into a new image of that name at the end of the
  // collection. Raises EInvalidGraphic when the decoder cannot read them;
  // nothing is added then.
  virtual void AddImage(const std::string& name, std::string_view bytes) = 0;

  // Where item images are looked up outside the package.
  // The executable's folder, with its trailing path separator.
  virtual std::string ExecutableDir() const = 0;
  // False when no file exists at the path; raises when one exists but
  // cannot be read.
  virtual bool ReadFileIfExists(const std::string& path, std::string& bytes) const = 0;

  // The platform calls this when the user chooses an item; only enabled
  // leaves reach OnItemClick, with the item's id.
  void ItemChosen(const MenuItem& item) const {
    if (item.clickable && item.Enabled && OnItemClick) OnItemClick(item.Tag);
  }
  std::function<void(long long itemId)> OnItemClick;

 private:
  MenuItem root_;
};

// The main window's menu bar.
class MenuService : public MenuTarget {
 public:
  // Makes the menu the main window's menu bar; later calls change nothing.
  virtual void AttachToMainWindow() = 0;
};

// The notification-area icon and its pop-up menu.
class TrayService : public MenuTarget {
 public:
  // Showing a shown icon, or hiding a hidden one, changes nothing. Hiding
  // raises Error("Cannot remove shell notification icon") when the system
  // refuses to remove a shown icon.
  virtual void ShowIcon() = 0;
  virtual void HideIcon() = 0;
  // Between ShowIcon and the next HideIcon. The window command setState
  // hides the main window on "minimized" while this is true.
  virtual bool IconVisible() const = 0;

  // A press and release of the left button on the icon.
  std::function<void()> OnIconClick;
};

}  // namespace vtl
