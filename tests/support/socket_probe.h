#pragma once
// Looks at a loopback server's side of a connection from inside the same
// process, where the server under test runs.
#include <optional>

namespace quil::testing {

// Connects to 127.0.0.1:`server_port`, finds the socket the server accepted
// for it among this process's descriptors, and reports whether that socket
// has TCP_NODELAY set. Nothing is sent. Empty when the connection fails or
// the server has not accepted it within a few seconds.
std::optional<bool> AcceptedSocketHasNoDelay(int server_port);

}  // namespace quil::testing
