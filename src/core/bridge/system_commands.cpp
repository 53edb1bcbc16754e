#include "core/bridge/arguments.h"
#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"
#include "core/platform/notifications.h"
#include "core/platform/power.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

void EndSession(TBrowserExternalModule& module, const std::string& uuid, PowerAction action) {
  PowerService* power = module.services().power;
  if (power == nullptr) return;
  const SystemOutcome outcome = power->EndSession(action);
  if (outcome.accepted) {
    module.SendSuccessResponse(uuid, "true");
  } else {
    module.SendErrorResponse(uuid, TStrUtils::StringToJsonString(outcome.errorMessage));
  }
}

}  // namespace

void SystemLogoff(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  EndSession(module, uuid, PowerAction::Logoff);
}

void SystemReboot(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  EndSession(module, uuid, PowerAction::Reboot);
}

void SystemShutdown(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  EndSession(module, uuid, PowerAction::Shutdown);
}

void SystemNotification(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  NotificationService* notifications = module.services().notifications;
  if (notifications == nullptr) return;
  Notification notification;
  notification.name = GetStringArg(data, "name", "");
  notification.title = GetStringArg(data, "title", "");
  notification.body = GetStringArg(data, "body", "");
  if (!notifications->HasNotificationCenter()) return module.SendSuccessResponse(uuid, "false");
  notifications->PresentNotification(notification);
  module.SendSuccessResponse(uuid, "true");
}

void TBrowserExternalModule::NotificationCenterReceiveLocalNotification(std::string_view name) {
  RaiseEvent(NotificationClickEventScript(name));
}

}  // namespace vtl
