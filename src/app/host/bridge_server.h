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
//     progress end the connection;
//   - the page's sockets hold a worker only while they carry a call: one
//     that stays idle for the keep-alive time goes back to the accepting
//     thread, which hands it to a worker again when its next message comes.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

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
    // Exactly `n` bytes, each read within the time a request body is given;
    // false when the connection ends.
    virtual bool ReadExact(char* buffer, size_t n) = 0;
    virtual bool Write(std::string_view bytes) = 0;
  };
  // A page connection whose first request asks for the page's socket
  // (AsksForSocket) is not answered over HTTP: `open(head, channel)` answers
  // it (false: the connection closes), then `message(channel)` reads and
  // answers each message as it arrives (false: the connection closes). Both
  // run on page workers, one at a time for a connection.
  void SetSocketHandler(std::function<bool(std::string_view head, Channel& channel)> open,
                        std::function<bool(Channel& channel)> message) {
    socket_open_ = std::move(open);
    socket_message_ = std::move(message);
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
  // The page's socket from its opening (or its next message) until it
  // closes or goes idle.
  void ServeSocket(Connection& connection);
  // Idle sockets handed back by workers, and those the accepting thread
  // watches (it alone touches `idle`); one that speaks goes to a worker.
  void ParkSocket(Connection connection);
  void WatchIdleSockets(std::vector<Connection>& idle, const std::vector<bool>& ready, size_t first);

  std::function<bool(std::string_view)> is_page_;
  std::function<bool(std::string_view, Channel&)> socket_open_;
  std::function<bool(Channel&)> socket_message_;
  ServerLimits limits_;
  std::atomic<bool> stopping_{false};
  std::mutex parking_mu_;
  std::vector<Connection> parking_;  // handed back, not yet watched
  std::unique_ptr<Pool> page_pool_;
  std::unique_ptr<Pool> other_pool_;
};

}  // namespace quil::host
