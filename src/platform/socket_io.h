#pragma once
// Stream sockets of the loopback servers, used without blocking: accepting,
// waiting for readiness with a time limit, reading and writing what fits.
// A handle is the system's socket (a descriptor here, a SOCKET on Windows).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quil::platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Set on a socket before it is bound to listen: no other socket may listen
// on its port while it does (a second listener would take a share of the
// connections meant for this one), but a restarted copy may bind a port
// whose earlier connections are still closing.
void ListenAlone(SocketHandle socket);

// Lets as many connections as the system allows wait on `listener` to be
// accepted (a short queue makes clients retry after seconds under a flood).
void AllowLongListenQueue(SocketHandle listener);

// A connection waiting on `listener`, set not to block and not to be
// inherited by child processes; kNoSocket when none is waiting.
SocketHandle AcceptConnection(SocketHandle listener);

// Which of `sockets` can be read (data, end of stream or an error) after
// waiting at most `timeout` for the first of them.
std::vector<bool> WaitReadable(const std::vector<SocketHandle>& sockets, std::chrono::milliseconds timeout);
// True when `socket` can take more bytes within `timeout`.
bool WaitWritable(SocketHandle socket, std::chrono::milliseconds timeout);

// What one read or write did without waiting: `bytes` moved (0 with `ended`
// set: the peer closed; 0 with `would_block`: try again later).
struct SocketTransfer {
  size_t bytes = 0;
  bool ended = false;        // end of stream or a failed connection
  bool would_block = false;  // nothing could move now
};
SocketTransfer ReceiveAvailable(SocketHandle socket, char* buffer, size_t size);
// Never raises a signal when the peer has gone.
SocketTransfer SendAvailable(SocketHandle socket, const char* bytes, size_t size);

// True when a program accepts connections on 127.0.0.1:`port` (one is
// made and closed at once).
bool LoopbackPortTaken(int port);

// Shuts the connection down both ways and closes the handle.
void CloseConnection(SocketHandle socket);

// The address and port of this end (`peer` false) or of the other end.
bool SocketAddress(SocketHandle socket, bool peer, std::string* ip, int* port);

}  // namespace quil::platform
