#pragma once
// The HTTP server under the bridge host. cpp-httplib parses the requests and
// runs the routes, but connections are taken in and read here, so that no
// other local client, however slow or numerous, holds what the page needs:
//   - one thread accepts every connection and reads the request heads of
//     all of them at once; a head must be complete within a time limit, and
//     when too many heads are unfinished the oldest connection is dropped;
//   - a complete head goes to the page's workers when it carries the page's
//     credential, else to a small pool of its own;
//   - request bodies are read within a time limit, and writes that make no
//     progress end the connection.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

#include "app/host/server_limits.h"

namespace quil::host {

class BridgeServer : public httplib::Server {
 public:
  // `is_page(head)` tells whether a complete request head (request line and
  // header lines) carries the page's credential. Called on the accepting
  // thread only.
  explicit BridgeServer(std::function<bool(std::string_view head)> is_page, ServerLimits limits = {});
  ~BridgeServer() override;

  // Serves on the calling thread until Shutdown(); a port must be bound.
  // Returns once every worker has ended and the port is closed.
  void Serve();
  // Makes Serve() return soon. Thread-safe.
  void Shutdown();

  struct Connection;
  class Pool;

 private:
  void Accept(std::vector<Connection>& waiting);
  void Dispatch(Connection connection);
  void ServeConnection(Connection& connection, bool page);

  std::function<bool(std::string_view)> is_page_;
  ServerLimits limits_;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<Pool> page_pool_;
  std::unique_ptr<Pool> other_pool_;
};

}  // namespace quil::host
