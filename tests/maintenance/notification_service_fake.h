#pragma once
// A small freedesktop notification service for tests: owns
// org.freedesktop.Notifications on a bus, records every notification it is
// given, and then closes it, or has its action chosen, as the test asks.
// Runs on a thread of its own.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quil::testing {

struct ReceivedNotification {
  std::string app_name;
  std::string icon;
  std::string summary;
  std::string body;
  std::vector<std::string> actions;  // key, label, key, label, ...
  std::string desktop_entry;         // hint
  int urgency = -1;                  // hint; -1 when absent
};

class FakeNotificationService {
 public:
  enum class Reply {
    kCloseAtOnce,   // NotificationClosed right after the reply
    kChooseAction,  // ActionInvoked("open"), then NotificationClosed
    kRefuse,        // Notify fails
    kNoActions,     // offers no actions and keeps notifications until dismissed
  };

  // Starts on the bus at `address`; running() tells whether it owns the name.
  // With `markup` it reads bodies as markup ("body-markup", "body-hyperlinks").
  FakeNotificationService(const std::string& address, Reply reply, bool markup = false);
  ~FakeNotificationService();

  bool running() const;
  std::vector<ReceivedNotification> received() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quil::testing
