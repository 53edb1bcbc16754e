#pragma once

// The host half of the script bridge: it takes every web message of the page,
// runs the command its id names, and answers with a reply that carries the
// request's uuid. It also formats the event scripts the host runs in the page.
//
// The module owns no OS resource. It reaches the web view and the system
// through the interfaces in BridgeServices, which the Windows build implements
// in src/win32/ and tests implement in memory.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/bridge/bridge_scope.h"
#include "core/json.h"

namespace vtl {

class RuntimeZip;
class IniDocument;

// A document that sends requests and takes their replies: the web view's top
// document, or one of its iframes.
class ReplyTarget {
 public:
  virtual ~ReplyTarget() = default;
  // The web view may refuse the text; that is ignored.
  virtual void PostWebMessageAsJson(const std::string& json) = 0;
};

// What the bridge needs of the web view. Its PostWebMessageAsJson reaches the
// top document.
class WebViewPort : public ReplyTarget {
 public:
  // Runs script in the current document; what it returns is ignored.
  virtual void ExecuteScript(const std::string& script) = 0;
  // The page's zoom factor (1.0 is 100 %).
  virtual double ZoomFactor() const = 0;
  virtual void SetZoomFactor(double factor) = 0;
};

// The capabilities the commands reach, all borrowed. Each is declared in
// src/core/platform/. A command whose capability is missing answers nothing.
class AppEnvironment;
class FileSystem;
class DialogService;
class WindowService;
class StyleService;
class ShellService;
class PowerService;
class NotificationService;
class RegistryService;
class MenuService;
class TrayService;

struct BridgeServices {
  WebViewPort* webView = nullptr;
  AppEnvironment* environment = nullptr;
  FileSystem* files = nullptr;
  DialogService* dialogs = nullptr;
  WindowService* window = nullptr;
  StyleService* styles = nullptr;
  ShellService* shell = nullptr;
  PowerService* power = nullptr;
  NotificationService* notifications = nullptr;
  RegistryService* registry = nullptr;
  MenuService* mainMenu = nullptr;
  TrayService* tray = nullptr;
};

class TBrowserExternalModule {
 public:
  explicit TBrowserExternalModule(BridgeServices services) : services_(services) {}
  TBrowserExternalModule(const TBrowserExternalModule&) = delete;
  TBrowserExternalModule& operator=(const TBrowserExternalModule&) = delete;

  // One web message of the top document, as the web view's JSON text, from
  // the document at `source` (the message's Source). A source that
  // AnswersSource refuses gets no reply and runs nothing. Never raises: an
  // error that a command leaves unhandled ends this message without a reply
  // and is handed to OnUnhandledError.
  void EdgeBrowserWebMessageReceived(std::string_view json, std::string_view source = {});
  // The same for a message of an iframe at `source`: its replies go to
  // `frame`, and are dropped once the frame is gone.
  void EdgeBrowserWebMessageReceived(std::string_view json, std::weak_ptr<ReplyTarget> frame,
                                     std::string_view source = {});

  // Whether messages from the document at `source` are answered under Scope.
  // Every path that takes web messages (the web view's, an iframe's) asks it.
  bool AnswersSource(std::string_view source) const {
    return BridgeAnswersSource(Scope, source, ExeZip, AppDirName);
  }

  // Replies: {"uuid": <uuid as a JSON string>, "success": <bool>, "result": <result>}.
  // `result` is JSON text already.
  void SendResponse(std::string_view uuid, std::string_view result, bool success);
  void SendSuccessResponse(std::string_view uuid, std::string_view result) { SendResponse(uuid, result, true); }
  void SendErrorResponse(std::string_view uuid, std::string_view result) { SendResponse(uuid, result, false); }

  // Runs an event script in the page (see the *EventScript helpers below).
  void RaiseEvent(const std::string& script);

  // The user activated the notification of that name: raises
  // onNotificationClick in the page. Call it on the user-interface thread.
  void NotificationCenterReceiveLocalNotification(std::string_view name);

  // Expires when the module is destroyed.
  std::weak_ptr<const void> Lifetime() const { return lifetime_; }

  // For a command that answers after its handler has returned (shell.command,
  // the dialogs): the reply to `uuid`, to the document that sent the message
  // being handled now. Dropped once the module or that document is gone.
  using LateReply = std::function<void(std::string_view result, bool success)>;
  LateReply ReplyLater(std::string uuid);

  const BridgeServices& services() const { return services_; }
  BridgeServices& services() { return services_; }

  // Borrowed state the commands read.
  RuntimeZip* ExeZip = nullptr;
  const IniDocument* ProjectINI = nullptr;
  bool InFullscreen = false;
  // [App] BridgeScope, and the package's web folder ([App] DirName) it checks
  // sources against.
  BridgeScope Scope = BridgeScope::All;
  std::string AppDirName;
  std::function<void()> OnAppCloseRequest;
  // Whether the tray icon is shown (window.setState shows or hides the
  // window with it); unset reads as not shown.
  std::function<bool()> TrayIconShown;
  std::function<void(const std::string& message)> OnUnhandledError;

 private:
  BridgeServices services_;
  std::string replyBuffer_;
  bool replyBusy_ = false;
  std::shared_ptr<const int> lifetime_ = std::make_shared<const int>(0);
  // Where the replies of the message being handled go: nothing for the top
  // document, else the iframe that sent it.
  struct Route {
    bool toFrame = false;
    std::weak_ptr<ReplyTarget> frame;
  };
  Route route_;
  void Dispatch(std::string_view json);
};

// The event scripts. The close query's value is `true` when the page's
// onCloseQuery ran: the page can answer, and decides.
std::string CloseQueryEventScript();
std::string MainMenuItemClickEventScript(long long itemId);
std::string TrayIconClickEventScript();
std::string TrayMenuItemClickEventScript(long long itemId);
// The name is escaped for a double-quoted JavaScript string.
std::string NotificationClickEventScript(std::string_view name);

}  // namespace vtl
