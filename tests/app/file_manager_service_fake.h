#pragma once
// A freedesktop file manager for tests: owns org.freedesktop.FileManager1 on
// a bus and records the URIs of every ShowItems call, answering it or
// failing it as the test asks. Runs on a thread of its own.
#include <memory>
#include <string>
#include <vector>

namespace quil::testing {

class FakeFileManagerService {
 public:
  // Starts on the bus at `address`; running() tells whether it owns the name.
  FakeFileManagerService(const std::string& address, bool refuse);
  ~FakeFileManagerService();

  bool running() const;
  // The `uris` argument of each ShowItems call, in order.
  std::vector<std::vector<std::string>> calls() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quil::testing
