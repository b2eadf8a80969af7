#pragma once
// A socket that only this user's programs reach, at a path in the user's
// folders: QUIL listens on one for the signing host's confirmations. Used
// with the stream functions of socket_io.h. Linux: a Unix domain socket;
// Windows has none here (the security component there is the operator's).
#include <string>

#include "platform/socket_io.h"

namespace quil::platform {

struct LocalListener {
  SocketHandle socket = kNoSocket;
  std::string path;
  unsigned long long file_id = 0;  // which file at `path` is this socket's
};

// Listens at `path` (its folder must exist), taking the path over from a
// program that listened there before: connections made afterwards reach
// this socket. Not blocking, not inherited. No socket on failure (also for
// a path too long for a socket address).
LocalListener ListenLocalSocket(const std::string& path);

// True while the listener's path still names its socket (no later program
// has taken it over and nothing removed it).
bool StillListening(const LocalListener& listener);

// True when nothing is at the listener's path any more (removed, not
// taken over), so listening again takes nothing from anyone.
bool PathVacant(const LocalListener& listener);

// Closes the listener and removes its path when that still names it.
void StopListening(LocalListener* listener);

// Connects to the socket at `path`; not blocking once connected.
// kNoSocket when nobody listens there.
SocketHandle ConnectLocalSocket(const std::string& path);

// True when the program at the other end runs as this user.
bool PeerIsThisUser(SocketHandle connection);

}  // namespace quil::platform
