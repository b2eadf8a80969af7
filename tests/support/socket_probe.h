#pragma once
// Looks at a loopback server's side of a connection from inside the same
// process, where the server under test runs.
#include <chrono>
#include <optional>
#include <string>

namespace quil::testing {

// Connects to 127.0.0.1:`server_port`, finds the socket the server accepted
// for it among this process's descriptors, and reports whether that socket
// has TCP_NODELAY set. Nothing is sent. Empty when the connection fails or
// the server has not accepted it within a few seconds.
std::optional<bool> AcceptedSocketHasNoDelay(int server_port);

// A client connection to 127.0.0.1:port that sends exactly what it is told,
// as slowly as it is told: for servers facing misbehaving clients.
class RawConnection {
 public:
  explicit RawConnection(int port);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return fd_ >= 0; }
  // False when the server has closed the connection.
  bool Send(const std::string& bytes);
  // Everything the server sends until it closes the connection, or nothing
  // when it is still open after `limit`.
  std::optional<std::string> ReadUntilClosed(std::chrono::milliseconds limit);
  // What the server has sent once at least `bytes` have come, or what came
  // within `limit`.
  std::string ReadAtLeast(size_t bytes, std::chrono::milliseconds limit);

 private:
  int fd_ = -1;
};

}  // namespace quil::testing
