#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/platform/notifications.h"

namespace vtl::win32 {

// A toast the system has been given; released when it is withdrawn or replaced.
class ShownToast {
 public:
  virtual ~ShownToast() = default;
};

// The system's toast notifier. The notification centre below keeps its own
// rules (identity, replacement, clicks) apart from it, so that they are tested
// on systems without a notifier too.
class ToastPresenter {
 public:
  virtual ~ToastPresenter() = default;
  // False when the system has no toast notifier.
  virtual bool Available() = 0;
  // Shows the toast document under the identity. `activated` may be called on
  // any thread, as long as the returned object lives. Null when not shown.
  virtual std::unique_ptr<ShownToast> Show(const std::wstring& appUserModelId, const std::wstring& xml,
                                           std::function<void()> activated) = 0;
  virtual void Hide(const std::wstring& appUserModelId, ShownToast& toast) = 0;
};

// The toast notifier of Windows 8 and later, reached through WinRT; the
// run-time functions are looked up when it is created.
std::unique_ptr<ToastPresenter> CreateWinRtToastPresenter();

// The notification centre. Create it on the user-interface thread: clicks are
// handed to that thread through a message-only window before the handler
// runs, and are dropped once the centre is gone.
class Win32ToastNotifications final : public NotificationService {
 public:
  // `exePath`: the program the identity and the shortcut stand for.
  // `programsFolder`: where its Start-menu shortcut goes; empty means the
  // user's Start-menu programs folder.
  explicit Win32ToastNotifications(std::wstring exePath, std::wstring programsFolder = {},
                                   std::unique_ptr<ToastPresenter> presenter = CreateWinRtToastPresenter());
  ~Win32ToastNotifications() override;
  Win32ToastNotifications(const Win32ToastNotifications&) = delete;
  Win32ToastNotifications& operator=(const Win32ToastNotifications&) = delete;

  bool HasNotificationCenter() override;
  void PresentNotification(const Notification& notification) override;
  void SetClickHandler(ClickHandler handler) override;

  const std::wstring& AppUserModelId() const { return appId_; }
  std::wstring ShortcutPath() const;
  // The process's identity, the per-user settings key and the Start-menu
  // shortcut carrying the identity; done before every notification. False
  // when any of them cannot be set up.
  bool EnsureIdentity();

 private:
  struct Clicks;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void DeliverClicks();

  std::wstring exePath_;
  std::wstring programsFolder_;
  std::wstring appId_;
  std::unique_ptr<ToastPresenter> presenter_;
  std::shared_ptr<Clicks> clicks_;  // shared with the threads that report clicks
  HWND window_ = nullptr;
  ClickHandler onClick_;
  std::map<std::string, std::unique_ptr<ShownToast>> shown_;  // by notification name
};

// The identity a shortcut carries, or "" when it has none or cannot be read.
std::wstring ShortcutAppUserModelId(const std::wstring& shortcutPath);
// The program a shortcut starts, or "".
std::wstring ShortcutTarget(const std::wstring& shortcutPath);

}  // namespace vtl::win32
