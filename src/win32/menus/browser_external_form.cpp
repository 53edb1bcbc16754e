#include "win32/menus/browser_external_form.h"

#include <shellapi.h>

#include <algorithm>

#include "core/errors.h"
#include "win32/bridge/system_error_text.h"
#include "win32/forms/form_support.h"
#include "win32/module_image.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

constexpr wchar_t kClassName[] = L"VantrelBrowserExternalForm";
constexpr wchar_t kCaption[] = L"[Not visible form: intended to be used to place DPI aware controls]";
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kTrayIconId = 1;
constexpr int kDesignImageSize = 16;
constexpr size_t kMaxTooltip = 127;

// The first "&x" of a caption ("&&" is a literal ampersand), lower-cased; 0 when none.
wchar_t AccessKey(const std::string& caption) {
  const std::wstring text = Widen(caption);
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] == L'&') {
      ++i;
      continue;
    }
    return static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(CharLowerW(reinterpret_cast<LPWSTR>(text[i + 1]))));
  }
  return 0;
}

// What both menus share: drawing, images and the files images come from.
template <class Base>
class Win32MenuTarget : public Base {
 public:
  Win32MenuTarget(bool menuBar, int imageSize) : drawn(menuBar), images(imageSize) {}

  void ItemsChanged() override {
    drawn.Draw(this->Root(), images);
    images.ReleaseCleared();
  }
  int ImageCount() const override { return images.Count(); }
  void ClearImages() override { images.Clear(); }
  void AddImage(const std::string& name, std::string_view bytes) override { images.Add(name, bytes); }

  std::string ExecutableDir() const override {
    return Narrow(RunningModulePath().parent_path().wstring()) + "\\";
  }

  bool ReadFileIfExists(const std::string& path, std::string& bytes) const override {
    const std::wstring name = Widen(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (name.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      throw EFOpenError("Cannot open file \"" + path + "\". " + SystemErrorText(GetLastError()));
    }
    std::string data;
    char chunk[64 * 1024];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &read, nullptr) != 0) && read > 0) data.append(chunk, read);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) throw EInOutError("Cannot read file \"" + path + "\". " + SystemErrorText(error));
    bytes = std::move(data);
    return true;
  }

  DrawnMenu drawn;
  MenuImageList images;
};

}  // namespace

// ---------------------------------------------------------------------------
// DrawnMenu

DrawnMenu::DrawnMenu(bool menuBar) : menu_(menuBar ? CreateMenu() : CreatePopupMenu()) {}

DrawnMenu::~DrawnMenu() {
  if (!owner_) {
    DestroyMenu(menu_);
  } else if (IsWindow(owner_)) {
    if (GetMenu(owner_) == menu_) SetMenu(owner_, nullptr);
    DestroyMenu(menu_);
  }
  // Otherwise the window was destroyed and took its menu with it.
}

void DrawnMenu::Draw(const MenuItem& root, const MenuImageList& images) {
  if (!menu_) return;
  // Deleting an item that opens a submenu destroys the submenu too.
  for (int count = GetMenuItemCount(menu_); count > 0; --count) DeleteMenu(menu_, 0, MF_BYPOSITION);
  parents_.clear();
  Fill(menu_, root, images);
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_STYLE | MIM_APPLYTOSUBMENUS;
  info.dwStyle = MNS_NOTIFYBYPOS | MNS_CHECKORBMP;
  SetMenuInfo(menu_, &info);
}

void DrawnMenu::Fill(HMENU menu, const MenuItem& parent, const MenuImageList& images) {
  parents_[menu] = &parent;
  UINT position = 0;
  for (const auto& child : parent.items) {
    const MenuItem& item = *child;
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    std::wstring text;
    HMENU submenu = nullptr;
    if (item.Caption == "-") {
      info.fMask = MIIM_FTYPE | MIIM_STATE;
      info.fType = MFT_SEPARATOR;
    } else {
      text = Widen(item.Caption);
      info.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_STATE | MIIM_ID;
      info.fType = MFT_STRING;
      info.dwTypeData = text.data();
      info.fState = item.Enabled ? MFS_ENABLED : MFS_DISABLED;
      info.wID = position + 1;
      if (HBITMAP bitmap = images.Bitmap(item.ImageIndex, item.Enabled)) {
        info.fMask |= MIIM_BITMAP;
        info.hbmpItem = bitmap;
      }
      if (item.submenu && (submenu = CreatePopupMenu()) != nullptr) {
        Fill(submenu, item, images);
        info.fMask |= MIIM_SUBMENU;
        info.hSubMenu = submenu;
      }
    }
    if (!InsertMenuItemW(menu, position, TRUE, &info)) {
      // Positions name items: stop rather than let later ones shift.
      if (submenu) {
        DestroyMenu(submenu);
        std::erase_if(parents_, [&](const auto& entry) { return IsMenu(entry.first) == FALSE; });
      }
      break;
    }
    ++position;
  }
}

const MenuItem* DrawnMenu::ItemAt(HMENU menu, UINT position) const {
  const auto found = parents_.find(menu);
  if (found == parents_.end() || position >= found->second->items.size()) return nullptr;
  return found->second->items[position].get();
}

// ---------------------------------------------------------------------------
// The two menus

class TBrowserExternalForm::MainMenuImpl : public Win32MenuTarget<MenuService> {
 public:
  MainMenuImpl(TBrowserExternalForm& form, int imageSize) : Win32MenuTarget(true, imageSize), form_(form) {}

  void AttachToMainWindow() override {
    wanted_ = true;
    Attach();
  }
  // Once a menu bar was wanted, it goes to the main window as soon as there is one.
  void Attach() {
    if (!wanted_ || attachedTo_ || !form_.mainWindow_) return;
    if (SetMenu(form_.mainWindow_, drawn.Handle())) {
      attachedTo_ = form_.mainWindow_;
      drawn.GiveTo(attachedTo_);
    }
  }
  void ItemsChanged() override {
    Win32MenuTarget::ItemsChanged();
    if (attachedTo_) DrawMenuBar(attachedTo_);
  }
  HWND attachedTo() const { return attachedTo_; }

 private:
  TBrowserExternalForm& form_;
  bool wanted_ = false;
  HWND attachedTo_ = nullptr;
};

class TBrowserExternalForm::TrayImpl : public Win32MenuTarget<TrayService> {
 public:
  TrayImpl(TBrowserExternalForm& form, int imageSize) : Win32MenuTarget(false, imageSize), form_(form) {}

  void ShowIcon() override {
    if (form_.iconShown_) return;
    form_.iconShown_ = true;
    // A shell that is not running yet refuses the icon; it is added when
    // the taskbar announces itself.
    form_.iconAdded_ = form_.AddIcon();
  }
  void HideIcon() override {
    if (!form_.iconShown_) return;
    if (form_.iconAdded_ && !form_.DeleteIcon()) throw Error("Cannot remove shell notification icon");
    form_.iconShown_ = false;
    form_.iconAdded_ = false;
  }
  bool IconVisible() const override { return form_.iconShown_; }

 private:
  TBrowserExternalForm& form_;
};

// ---------------------------------------------------------------------------
// TBrowserExternalForm

std::wstring DefaultApplicationTitle(std::wstring_view executablePath) {
  const size_t slash = executablePath.find_last_of(L"\\/");
  std::wstring_view name = slash == std::wstring_view::npos ? executablePath : executablePath.substr(slash + 1);
  name = name.substr(0, name.find(L'.'));
  std::wstring title(name);
  if (title.size() > 1) CharLowerBuffW(title.data() + 1, static_cast<DWORD>(title.size() - 1));
  return title;
}

TBrowserExternalForm::TBrowserExternalForm(HWND mainWindow) : mainWindow_(mainWindow) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  static const bool registered = [instance] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;

  const int imageSize = forms::Scale(kDesignImageSize, forms::SystemDpi());
  mainMenu_ = std::make_unique<MainMenuImpl>(*this, imageSize);
  tray_ = std::make_unique<TrayImpl>(*this, imageSize);

  // A top-level window, never shown: the shell's "TaskbarCreated" reaches
  // only those.
  hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, kCaption, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                          this);
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  // An elevated process filters the shell's message unless told otherwise.
  using FilterFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  if (const auto allow = forms::SystemFunction<FilterFunction>(L"user32.dll", "ChangeWindowMessageFilterEx");
      allow && hwnd_ && taskbarCreated_) {
    allow(hwnd_, taskbarCreated_, 1 /* MSGFLT_ALLOW */, nullptr);
  }

  tooltip_ = DefaultApplicationTitle(RunningModulePath().wstring());
  if (tooltip_.size() > kMaxTooltip) {
    const bool splitsPair = IS_HIGH_SURROGATE(tooltip_[kMaxTooltip - 1]);
    tooltip_.resize(splitsPair ? kMaxTooltip - 1 : kMaxTooltip);
  }
  icon_ = static_cast<HICON>(LoadImageW(instance, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                        GetSystemMetrics(SM_CYSMICON), 0));
}

TBrowserExternalForm::~TBrowserExternalForm() {
  if (iconAdded_) DeleteIcon();
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (icon_) DestroyIcon(icon_);
}

MenuService& TBrowserExternalForm::MainMenu() { return *mainMenu_; }
TrayService& TBrowserExternalForm::Tray() { return *tray_; }
HMENU TBrowserExternalForm::MainMenuHandle() const { return mainMenu_->drawn.Handle(); }
HMENU TBrowserExternalForm::TrayMenuHandle() const { return tray_->drawn.Handle(); }
const MenuImageList& TBrowserExternalForm::MainMenuImages() const { return mainMenu_->images; }
const MenuImageList& TBrowserExternalForm::TrayMenuImages() const { return tray_->images; }

void TBrowserExternalForm::SetMainWindow(HWND mainWindow) {
  mainWindow_ = mainWindow;
  mainMenu_->Attach();
}

bool TBrowserExternalForm::HandleMenuCommand(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_MENUCOMMAND) return false;
  const MenuItem* item = mainMenu_->drawn.ItemAt(reinterpret_cast<HMENU>(lParam), static_cast<UINT>(wParam));
  if (!item) return false;
  try {
    mainMenu_->ItemChosen(*item);
  } catch (...) {
    // A page event that cannot be raised is lost; the window goes on.
  }
  return true;
}

bool TBrowserExternalForm::TranslateShortcut(UINT message, WPARAM virtualKey, LPARAM keyData) {
  constexpr LPARAM kAltDown = 1 << 29;
  if (message != WM_SYSKEYDOWN || !(keyData & kAltDown) || GetKeyState(VK_CONTROL) < 0) return false;
  const HWND window = mainMenu_->attachedTo();
  if (!window) return false;
  const UINT character = MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_CHAR) & 0x7FFF;
  if (character == 0) return false;
  const auto key = static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(CharLowerW(reinterpret_cast<LPWSTR>(character))));
  for (const auto& item : mainMenu_->Root().items) {
    if (item->Enabled && item->Caption != "-" && AccessKey(item->Caption) == key) {
      // What the window's own Alt+key would do: open that menu.
      PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, key);
      return true;
    }
  }
  return false;
}

bool TBrowserExternalForm::AddIcon() {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd_;
  data.uID = kTrayIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = icon_ ? icon_ : LoadIconW(nullptr, IDI_APPLICATION);
  std::copy_n(tooltip_.c_str(), std::min(tooltip_.size(), kMaxTooltip), data.szTip);
  return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

bool TBrowserExternalForm::DeleteIcon() {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd_;
  data.uID = kTrayIconId;
  return Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
}

void TBrowserExternalForm::OnTrayMessage(UINT mouseMessage) {
  switch (mouseMessage) {
    case WM_LBUTTONDOWN:
      leftPressed_ = true;
      break;
    case WM_LBUTTONDBLCLK:
      // The double click's first click was the event; its second is none.
      leftPressed_ = false;
      break;
    case WM_LBUTTONUP: {
      const bool click = leftPressed_;
      leftPressed_ = false;
      if (click && tray_->OnIconClick) tray_->OnIconClick();
      break;
    }
    case WM_RBUTTONUP:
      ShowTrayMenu();
      break;
    default:
      break;
  }
}

void TBrowserExternalForm::ShowTrayMenu() {
  const HMENU menu = tray_->drawn.Handle();
  if (!iconShown_ || GetMenuItemCount(menu) <= 0) return;
  POINT at{};
  GetCursorPos(&at);
  // Without the foreground the pop-up would not close when the user clicks elsewhere.
  SetForegroundWindow(hwnd_);
  const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
  TrackPopupMenuEx(menu, align | TPM_RIGHTBUTTON, at.x, at.y, hwnd_, nullptr);
  PostMessageW(hwnd_, WM_NULL, 0, 0);
}

LRESULT CALLBACK TBrowserExternalForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TBrowserExternalForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    form->hwnd_ = window;
  }
  auto* form = reinterpret_cast<TBrowserExternalForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  // Nothing thrown by a page event may cross the system's call.
  try {
    return form->Handle(message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

LRESULT TBrowserExternalForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    if (iconShown_) iconAdded_ = AddIcon();
    return 0;
  }
  switch (message) {
    case kTrayMessage:
      OnTrayMessage(LOWORD(lParam));
      return 0;
    case WM_MENUCOMMAND:
      if (const MenuItem* item = tray_->drawn.ItemAt(reinterpret_cast<HMENU>(lParam), static_cast<UINT>(wParam))) {
        tray_->ItemChosen(*item);
      }
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

}  // namespace vtl::win32
