#pragma once

// Desktop notifications, and the clicks on them.

#include <functional>
#include <string>

namespace vtl {

struct Notification {
  std::string name;  // identifies it, and comes back with a click
  std::string title;
  std::string body;
};

class NotificationService {
 public:
  virtual ~NotificationService() = default;

  // False on a system without a notification centre.
  virtual bool HasNotificationCenter() = 0;
  // Shows the notification at once, replacing a shown one of the same name.
  // Whether the system really displays it is not reported.
  virtual void PresentNotification(const Notification& notification) = 0;

  // Receives the name of a notification the user activated, on the thread
  // that created the service. Replaces an earlier handler; an empty one drops
  // clicks.
  using ClickHandler = std::function<void(const std::string& name)>;
  virtual void SetClickHandler(ClickHandler handler) = 0;
};

}  // namespace vtl
