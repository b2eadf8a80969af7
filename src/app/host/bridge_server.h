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

  // A page connection that left HTTP behind (the page's socket).
  class Channel {
   public:
    virtual ~Channel() = default;
    // Waits for the next bytes; false once the server stops.
    virtual bool WaitForData() = 0;
    // Exactly `n` bytes, each read within the time a request body is given;
    // false when the connection ends.
    virtual bool ReadExact(char* buffer, size_t n) = 0;
    virtual bool Write(std::string_view bytes) = 0;
  };
  // Serves a page connection whose first request asks for the page's socket
  // (AsksForSocket) on a page worker, instead of answering it over HTTP;
  // the connection closes when `serve` returns.
  void SetSocketHandler(std::function<void(std::string_view head, Channel& channel)> serve) {
    socket_handler_ = std::move(serve);
  }

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
  std::function<void(std::string_view, Channel&)> socket_handler_;
  ServerLimits limits_;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<Pool> page_pool_;
  std::unique_ptr<Pool> other_pool_;
};

}  // namespace quil::host
