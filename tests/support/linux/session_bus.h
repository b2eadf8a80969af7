#pragma once
// A private session bus for a test: a dbus-daemon of its own on a socket
// in a temporary folder, with no service activation, so only what the test
// starts answers on it. Ended by its pid when the object goes.
#include <sys/types.h>

#include <string>

namespace quil::testing {

class PrivateSessionBus {
 public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // Empty when the daemon did not start.
  const std::string& address() const { return address_; }

 private:
  std::string folder_;
  std::string address_;
  pid_t pid_ = -1;
};

// Sets DBUS_SESSION_BUS_ADDRESS for the lifetime of the object.
class ScopedSessionBusAddress {
 public:
  explicit ScopedSessionBusAddress(const std::string& address);
  ~ScopedSessionBusAddress();

 private:
  std::string saved_;
  bool had_ = false;
};

}  // namespace quil::testing
