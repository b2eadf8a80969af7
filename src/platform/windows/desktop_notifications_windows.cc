// Windows has no notification session here yet (its toast notifications
// need an application identity registered by an installer): the reminder
// reports that it could not show anything, and tries again next time.
#include "platform/desktop_notifications.h"

namespace quil::platform {

std::unique_ptr<NotificationSession> ConnectNotifications(const std::string&, std::string* problem) {
  *problem = "desktop notifications are not available on Windows yet";
  return nullptr;
}

}  // namespace quil::platform
