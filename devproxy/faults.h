#pragma once
// Injected faults per action: what the proxy answers instead of the real
// reply. Thread-safe.
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "devproxy/devproxy.h"

namespace quil::devproxy {

// The reply text of a fault that still answers with a document
// (malformed, no root, chosen rtnCode); "" for the others.
std::string FaultDocument(const Fault& fault);

class FaultTable {
 public:
  // `action` may be "*" (every action without a fault of its own).
  void Set(const std::string& action, const Fault& fault);
  void Clear();
  // The fault for one call of `action`, counting down its `times`.
  std::optional<Fault> Take(const std::string& action);

 private:
  std::mutex mu_;
  std::map<std::string, Fault> faults_;
};

}  // namespace quil::devproxy
