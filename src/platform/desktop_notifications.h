#pragma once
// Notifications on the user's desktop, shown by the desktop's notification
// service (on Linux the freedesktop one on the session bus), with an action
// that the user may choose. Texts are wide (UTF-8) and plain: each is shown
// as it is, never read as markup, and bytes that are not UTF-8 are shown as
// replacement characters.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace quil::platform {

struct DesktopNotification {
  std::string summary;
  std::string body;          // plain text
  std::string icon;          // an icon name of the theme
  std::string action_label;  // empty: no action
  bool urgent = false;       // stays until the user dismisses it
};

class NotificationSession {
 public:
  virtual ~NotificationSession() = default;

  // Hands one notification to the service; false when the service did not
  // take it.
  [[nodiscard]] virtual bool Show(const DesktopNotification& notification) = 0;

  // Waits until the user chose the action of a notification shown in this
  // session (true), or every one of them was closed, or `limit` passed
  // (false). Returns at once when nothing is shown.
  virtual bool WaitForAction(std::chrono::milliseconds limit) = 0;
};

// Connects to the notification service as the application `app_id` (the
// name of its desktop entry); nothing, with the reason in `problem`, when
// there is no session or no service.
std::unique_ptr<NotificationSession> ConnectNotifications(const std::string& app_id, std::string* problem);

}  // namespace quil::platform
