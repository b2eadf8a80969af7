#pragma once
// `quil --demo`: runs the demo certificate proxy beside QUIL on a free
// loopback port and points this process at it through the QUIL_* variables
// it writes to its quil.env. The proxy ends when this process ends, in
// whatever way. A restarted copy (openApp, the update) keeps using the same
// proxy: the old copy hands it over instead of stopping it, and the new one
// finds it through QUIL_DEMO_PROXY_PID and the QUIL_* variables it
// inherited (on Linux it also inherits the pipe that keeps the proxy up).
#include <memory>
#include <string>

#include "platform/process.h"

namespace quil::host {

class DemoProxy {
 public:
  // Takes over the proxy a predecessor handed over, else starts
  // quil-devproxy with its data under the QUIL state folder; false and a
  // message when it cannot be found or does not come up.
  bool Start(std::string* problem);
  // Leaves the proxy running for the successor this process started.
  void HandOver();
  DemoProxy();
  ~DemoProxy();  // stops it, unless handed over

  const std::string& base_url() const { return base_url_; }

 private:
  std::unique_ptr<platform::ChildProcess> child_;
  std::string base_url_;
};

}  // namespace quil::host
