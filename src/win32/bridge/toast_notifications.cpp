#include "win32/bridge/toast_notifications.h"

#include <eventtoken.h>
#include <hstring.h>
#include <inspectable.h>
#include <objbase.h>
#include <propsys.h>
#include <roapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "core/toast_content.h"
#include "win32/forms/form_support.h"
#include "win32/registry_key.h"
#include "win32/text.h"
#include "win32/com_ptr.h"
#include "win32/com_scope.h"

// The WinRT and shell objects here are held by the SDK's pointer, for its As().
template <class T>
using WrlComPtr = Microsoft::WRL::ComPtr<T>;

namespace vtl::win32 {
namespace {

// ---------------------------------------------------------------------------
// The few WinRT interfaces the toast needs, as published for
// Windows.UI.Notifications and Windows.Data.Xml.Dom. Only the slots called
// are named; the others keep their place in the table. COM objects are
// released through Release, never through a destructor of the interface.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

enum class ToastTemplateType : int {};
struct IToastNotification;
struct IToastNotifier;

// {F7F3A506-1E87-42D6-BCFB-B8C809FA5494}: used only as a pointer here.
constexpr IID kIID_IXmlDocument = {0xF7F3A506, 0x1E87, 0x42D6, {0xBC, 0xFB, 0xB8, 0xC8, 0x09, 0xFA, 0x54, 0x94}};
using IXmlDocument = IInspectable;

constexpr IID kIID_IXmlDocumentIO = {0x6CD0E74E, 0xEE65, 0x4489, {0x9E, 0xBF, 0xCA, 0x43, 0xE8, 0x7B, 0xA6, 0x37}};
struct IXmlDocumentIO : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE LoadXml(HSTRING xml) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadXmlWithSettings(HSTRING xml, IInspectable* settings) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveToFileAsync(IInspectable* file, IInspectable** operation) = 0;
};

constexpr IID kIID_IToastNotificationManagerStatics = {
    0x50AC103F, 0xD235, 0x4598, {0xBB, 0xEF, 0x98, 0xFE, 0x4D, 0x1A, 0x3A, 0xD4}};
struct IToastNotificationManagerStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotifier(IToastNotifier** notifier) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotifierWithId(HSTRING applicationId, IToastNotifier** notifier) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTemplateContent(ToastTemplateType type, IXmlDocument** content) = 0;
};

struct IToastNotifier : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Show(IToastNotification* notification) = 0;
  virtual HRESULT STDMETHODCALLTYPE Hide(IToastNotification* notification) = 0;
};

constexpr IID kIID_IToastNotificationFactory = {
    0x04124B20, 0x82C6, 0x4229, {0xB1, 0x09, 0xFD, 0x9E, 0xD4, 0x66, 0x2B, 0x53}};
struct IToastNotificationFactory : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotification(IXmlDocument* content, IToastNotification** value) = 0;
};

// TypedEventHandler<ToastNotification*, IInspectable*>, the Activated event.
constexpr IID kIID_ToastActivatedHandler = {
    0xAB54DE2D, 0x97D9, 0x5528, {0xB6, 0xAD, 0x10, 0x5A, 0xFE, 0x15, 0x65, 0x30}};
struct IToastActivatedHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(IToastNotification* sender, IInspectable* args) = 0;
};

struct IToastNotification : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Content(IXmlDocument** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ExpirationTime(IInspectable* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ExpirationTime(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Dismissed(IUnknown* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Dismissed(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Activated(IToastActivatedHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Activated(EventRegistrationToken token) = 0;
};

constexpr IID kIID_IAgileObject = {0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};

// System.AppUserModel.ID
constexpr PROPERTYKEY kAppUserModelIdKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};

// ---------------------------------------------------------------------------
// The WinRT run-time functions, present from Windows 8 on.

struct WinRtFunctions {
  HRESULT(WINAPI* roInitialize)(RO_INIT_TYPE) = nullptr;
  HRESULT(WINAPI* roGetActivationFactory)(HSTRING, REFIID, void**) = nullptr;
  HRESULT(WINAPI* roActivateInstance)(HSTRING, IInspectable**) = nullptr;
  HRESULT(WINAPI* windowsCreateString)(LPCWSTR, UINT32, HSTRING*) = nullptr;
  HRESULT(WINAPI* windowsDeleteString)(HSTRING) = nullptr;

  bool Loaded() const {
    return roInitialize && roGetActivationFactory && roActivateInstance && windowsCreateString &&
           windowsDeleteString;
  }
  static const WinRtFunctions& Get() {
    static const WinRtFunctions functions = [] {
      using forms::SystemFunction;
      WinRtFunctions f;
      f.roInitialize = SystemFunction<decltype(f.roInitialize)>(L"combase.dll", "RoInitialize");
      f.roGetActivationFactory =
          SystemFunction<decltype(f.roGetActivationFactory)>(L"combase.dll", "RoGetActivationFactory");
      f.roActivateInstance = SystemFunction<decltype(f.roActivateInstance)>(L"combase.dll", "RoActivateInstance");
      f.windowsCreateString = SystemFunction<decltype(f.windowsCreateString)>(L"combase.dll", "WindowsCreateString");
      f.windowsDeleteString = SystemFunction<decltype(f.windowsDeleteString)>(L"combase.dll", "WindowsDeleteString");
      return f;
    }();
    return functions;
  }
};

class HString {
 public:
  HString(const WinRtFunctions& f, const std::wstring& text) : f_(f) {
    if (FAILED(f_.windowsCreateString(text.c_str(), static_cast<UINT32>(text.size()), &value_))) value_ = nullptr;
  }
  ~HString() {
    if (value_) f_.windowsDeleteString(value_);
  }
  HString(const HString&) = delete;
  HString& operator=(const HString&) = delete;
  HSTRING get() const { return value_; }

 private:
  const WinRtFunctions& f_;
  HSTRING value_ = nullptr;
};

// The Activated handler: agile, so the system may call it on any thread.
class ActivatedHandler final : public ComObject<IToastActivatedHandler> {
 public:
  explicit ActivatedHandler(std::function<void()> activated) : activated_(std::move(activated)) {}

  HRESULT STDMETHODCALLTYPE Invoke(IToastNotification*, IInspectable*) override {
    try {
      activated_();
    } catch (...) {
      // Nothing may leave towards the system's thread.
    }
    return S_OK;
  }

 private:
  bool Answers(REFIID iid) const override {
    return IsEqualIID(iid, kIID_IAgileObject) || IsEqualIID(iid, kIID_ToastActivatedHandler);
  }
  std::function<void()> activated_;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

class WinRtShownToast final : public ShownToast {
 public:
  WinRtShownToast(WrlComPtr<IToastNotification> toast, EventRegistrationToken token)
      : toast_(std::move(toast)), token_(token) {}
  ~WinRtShownToast() override { toast_->remove_Activated(token_); }
  IToastNotification* toast() const { return toast_.Get(); }

 private:
  WrlComPtr<IToastNotification> toast_;
  EventRegistrationToken token_;
};

class WinRtToastPresenter final : public ToastPresenter {
 public:
  WinRtToastPresenter() : f_(WinRtFunctions::Get()) {}

  bool Available() override { return Manager() != nullptr; }

  std::unique_ptr<ShownToast> Show(const std::wstring& appUserModelId, const std::wstring& xml,
                                   std::function<void()> activated) override {
    IToastNotificationManagerStatics* manager = Manager();
    if (manager == nullptr) return nullptr;
    const HString documentClass(f_, L"Windows.Data.Xml.Dom.XmlDocument");
    const HString toastClass(f_, L"Windows.UI.Notifications.ToastNotification");
    const HString text(f_, xml);
    const HString appId(f_, appUserModelId);
    WrlComPtr<IInspectable> document;
    WrlComPtr<IXmlDocumentIO> documentIO;
    WrlComPtr<IXmlDocument> content;
    WrlComPtr<IToastNotificationFactory> factory;
    WrlComPtr<IToastNotification> toast;
    WrlComPtr<IToastNotifier> notifier;
    if (FAILED(f_.roActivateInstance(documentClass.get(), &document)) ||
        FAILED(document->QueryInterface(kIID_IXmlDocumentIO, &documentIO)) ||
        FAILED(documentIO->LoadXml(text.get())) ||
        FAILED(document->QueryInterface(kIID_IXmlDocument, &content)) ||
        FAILED(f_.roGetActivationFactory(toastClass.get(), kIID_IToastNotificationFactory, &factory)) ||
        FAILED(factory->CreateToastNotification(content.Get(), &toast)) ||
        FAILED(manager->CreateToastNotifierWithId(appId.get(), &notifier))) {
      return nullptr;
    }
    WrlComPtr<ActivatedHandler> handler;
    handler.Attach(new ActivatedHandler(std::move(activated)));
    EventRegistrationToken token{};
    if (FAILED(toast->add_Activated(handler.Get(), &token))) return nullptr;
    auto shown = std::make_unique<WinRtShownToast>(toast, token);
    if (FAILED(notifier->Show(toast.Get()))) return nullptr;
    return shown;
  }

  void Hide(const std::wstring& appUserModelId, ShownToast& toast) override {
    IToastNotificationManagerStatics* manager = Manager();
    if (manager == nullptr) return;
    const HString appId(f_, appUserModelId);
    WrlComPtr<IToastNotifier> notifier;
    if (SUCCEEDED(manager->CreateToastNotifierWithId(appId.get(), &notifier)))
      notifier->Hide(static_cast<WinRtShownToast&>(toast).toast());
  }

 private:
  // The toast manager's statics, looked up once; null without a notifier.
  IToastNotificationManagerStatics* Manager() {
    if (!looked_up_) {
      looked_up_ = true;
      if (!f_.Loaded()) return nullptr;
      // The thread usually has its apartment already; either answer will do.
      f_.roInitialize(RO_INIT_SINGLETHREADED);
      const HString managerClass(f_, L"Windows.UI.Notifications.ToastNotificationManager");
      if (managerClass.get() == nullptr ||
          FAILED(f_.roGetActivationFactory(managerClass.get(), kIID_IToastNotificationManagerStatics, &manager_)))
        manager_.Reset();
    }
    return manager_.Get();
  }

  const WinRtFunctions& f_;
  bool looked_up_ = false;
  WrlComPtr<IToastNotificationManagerStatics> manager_;
};

// ---------------------------------------------------------------------------
// Identity: the per-user settings key and the Start-menu shortcut.

constexpr UINT kClicksArrived = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"VantrelNotificationClicks";
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Notifications\\Settings\\";

std::wstring Folder(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring StemOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

bool EnsureSettingsKey(const std::wstring& appId) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  const std::wstring path = kSettingsKey + appId;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &key, &disposition) != ERROR_SUCCESS)
    return false;
  LONG result = ERROR_SUCCESS;
  if (disposition == REG_CREATED_NEW_KEY) {
    const DWORD one = 1;
    result = RegSetValueExW(key, L"ShowInActionCenter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool WriteShortcut(const std::wstring& shortcut, const std::wstring& exePath, const std::wstring& appId) {
  WrlComPtr<IShellLinkW> link;
  WrlComPtr<IPropertyStore> properties;
  WrlComPtr<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
      FAILED(link->SetPath(exePath.c_str())) || FAILED(link->SetWorkingDirectory(Folder(exePath).c_str())) ||
      FAILED(link.As(&properties)))
    return false;
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_LPWSTR;
  const size_t bytes = (appId.size() + 1) * sizeof(wchar_t);
  value.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (value.pwszVal == nullptr) return false;
  memcpy(value.pwszVal, appId.c_str(), bytes);
  const bool stored = SUCCEEDED(properties->SetValue(kAppUserModelIdKey, value)) && SUCCEEDED(properties->Commit());
  PropVariantClear(&value);
  return stored && SUCCEEDED(link.As(&file)) && SUCCEEDED(file->Save(shortcut.c_str(), TRUE));
}

WrlComPtr<IShellLinkW> LoadShortcut(const std::wstring& shortcutPath) {
  WrlComPtr<IShellLinkW> link;
  WrlComPtr<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
      FAILED(link.As(&file)) || FAILED(file->Load(shortcutPath.c_str(), STGM_READ)))
    return nullptr;
  return link;
}

}  // namespace

std::unique_ptr<ToastPresenter> CreateWinRtToastPresenter() { return std::make_unique<WinRtToastPresenter>(); }

std::wstring ShortcutAppUserModelId(const std::wstring& shortcutPath) {
  const ComScope com;
  const WrlComPtr<IShellLinkW> link = LoadShortcut(shortcutPath);
  WrlComPtr<IPropertyStore> properties;
  if (!link || FAILED(link.As(&properties))) return {};
  PROPVARIANT value;
  PropVariantInit(&value);
  std::wstring id;
  if (SUCCEEDED(properties->GetValue(kAppUserModelIdKey, &value)) && value.vt == VT_LPWSTR && value.pwszVal)
    id = value.pwszVal;
  PropVariantClear(&value);
  return id;
}

std::wstring ShortcutTarget(const std::wstring& shortcutPath) {
  const ComScope com;
  const WrlComPtr<IShellLinkW> link = LoadShortcut(shortcutPath);
  wchar_t target[MAX_PATH] = {};
  if (!link || FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return {};
  return target;
}

// ---------------------------------------------------------------------------
// The notification centre.

// Names of clicked notifications, waiting for the user-interface thread.
struct Win32ToastNotifications::Clicks {
  std::mutex lock;
  HWND window = nullptr;  // null once the centre is gone
  std::deque<std::string> names;
};

Win32ToastNotifications::Win32ToastNotifications(std::wstring exePath, std::wstring programsFolder,
                                                 std::unique_ptr<ToastPresenter> presenter)
    : exePath_(std::move(exePath)),
      programsFolder_(std::move(programsFolder)),
      appId_(Widen(NotificationAppUserModelId(Narrow(exePath_)))),
      presenter_(std::move(presenter)),
      clicks_(std::make_shared<Clicks>()) {
  if (programsFolder_.empty()) {
    wchar_t folder[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, folder)))
      programsFolder_ = folder;
  }
  static const ATOM windowClass = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    return RegisterClassExW(&wc);
  }();
  window_ = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(windowClass)), L"", 0, 0, 0, 0, 0,
                            HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) throw std::runtime_error("Cannot create the notification window");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  clicks_->window = window_;
}

Win32ToastNotifications::~Win32ToastNotifications() {
  {
    const std::lock_guard guard(clicks_->lock);
    clicks_->window = nullptr;
  }
  shown_.clear();  // before the presenter that showed them
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

bool Win32ToastNotifications::HasNotificationCenter() { return presenter_ && presenter_->Available(); }

std::wstring Win32ToastNotifications::ShortcutPath() const {
  return programsFolder_.empty() ? std::wstring() : programsFolder_ + L"\\" + StemOf(exePath_) + L".lnk";
}

bool Win32ToastNotifications::EnsureIdentity() {
  using SetAppIdFunction = HRESULT(WINAPI*)(PCWSTR);
  static const auto setAppId =
      forms::SystemFunction<SetAppIdFunction>(L"shell32.dll", "SetCurrentProcessExplicitAppUserModelID");
  if (setAppId == nullptr || FAILED(setAppId(appId_.c_str()))) return false;
  if (!EnsureSettingsKey(appId_)) return false;

  const std::wstring shortcut = ShortcutPath();
  if (shortcut.empty()) return false;
  // A shortcut that starts this program under this identity is kept; any
  // other shortcut of that name is replaced.
  if (GetFileAttributesW(shortcut.c_str()) != INVALID_FILE_ATTRIBUTES && SamePath(ShortcutTarget(shortcut), exePath_) &&
      ShortcutAppUserModelId(shortcut) == appId_)
    return true;
  const ComScope com;
  return WriteShortcut(shortcut, exePath_, appId_);
}

void Win32ToastNotifications::PresentNotification(const Notification& notification) {
  if (!presenter_ || !EnsureIdentity()) return;
  const auto earlier = shown_.find(notification.name);
  if (earlier != shown_.end()) {
    presenter_->Hide(appId_, *earlier->second);
    shown_.erase(earlier);
  }
  std::unique_ptr<ShownToast> toast = presenter_->Show(
      appId_, Widen(ToastXml(notification.title, notification.body)),
      [clicks = std::weak_ptr<Clicks>(clicks_), name = notification.name] {
        const std::shared_ptr<Clicks> target = clicks.lock();
        if (!target) return;
        const std::lock_guard guard(target->lock);
        if (target->window == nullptr) return;
        target->names.push_back(name);
        PostMessageW(target->window, kClicksArrived, 0, 0);
      });
  if (toast) shown_[notification.name] = std::move(toast);
}

void Win32ToastNotifications::SetClickHandler(ClickHandler handler) { onClick_ = std::move(handler); }

void Win32ToastNotifications::DeliverClicks() {
  std::deque<std::string> names;
  {
    const std::lock_guard guard(clicks_->lock);
    names.swap(clicks_->names);
  }
  for (const std::string& name : names) {
    try {
      if (onClick_) onClick_(name);
    } catch (...) {
      // An error in the page event must not leave through the window procedure.
    }
  }
}

LRESULT CALLBACK Win32ToastNotifications::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kClicksArrived) {
    if (auto* self = reinterpret_cast<Win32ToastNotifications*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      self->DeliverClicks();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vtl::win32
