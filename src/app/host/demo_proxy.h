#pragma once
// `quil --demo`: runs the demo certificate proxy beside QUIL on a free
// loopback port and points this process at it through the QUIL_* variables
// it writes to its quil.env.
#include <memory>
#include <string>

#include "platform/process.h"

namespace quil::host {

class DemoProxy {
 public:
  // Starts quil-devproxy with its data under the QUIL state folder; false
  // and a message when it cannot be found or does not come up.
  bool Start(std::string* problem);
  DemoProxy();
  ~DemoProxy();  // stops it

  const std::string& base_url() const { return base_url_; }

 private:
  std::unique_ptr<platform::ChildProcess> child_;
  std::string base_url_;
};

}  // namespace quil::host
