#include "platform/socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace quil::platform {

void ListenAlone(SocketHandle socket) {
  // SO_REUSEADDR only: SO_REUSEPORT would let another socket listen beside it.
  int yes = 1;
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

void AllowLongListenQueue(SocketHandle listener) { listen(static_cast<int>(listener), SOMAXCONN); }

SocketHandle AcceptConnection(SocketHandle listener) {
  int fd = static_cast<int>(listener);
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  for (;;) {
    int s = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s >= 0) return s;
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return kNoSocket;
  }
}

std::vector<bool> WaitReadable(const std::vector<SocketHandle>& sockets, std::chrono::milliseconds timeout) {
  std::vector<pollfd> fds(sockets.size());
  for (size_t i = 0; i < sockets.size(); ++i) fds[i] = {static_cast<int>(sockets[i]), POLLIN, 0};
  std::vector<bool> ready(sockets.size(), false);
  int n = poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
  if (n <= 0) return ready;
  for (size_t i = 0; i < sockets.size(); ++i) ready[i] = fds[i].revents != 0;
  return ready;
}

bool WaitWritable(SocketHandle socket, std::chrono::milliseconds timeout) {
  pollfd p{static_cast<int>(socket), POLLOUT, 0};
  return poll(&p, 1, static_cast<int>(timeout.count())) > 0 && (p.revents & POLLOUT);
}

SocketTransfer ReceiveAvailable(SocketHandle socket, char* buffer, size_t size) {
  for (;;) {
    ssize_t n = recv(static_cast<int>(socket), buffer, size, MSG_DONTWAIT);
    if (n > 0) return {static_cast<size_t>(n), false, false};
    if (n == 0) return {0, true, false};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, false, true};
    return {0, true, false};
  }
}

SocketTransfer SendAvailable(SocketHandle socket, const char* bytes, size_t size) {
  for (;;) {
    ssize_t n = send(static_cast<int>(socket), bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return {static_cast<size_t>(n), false, n == 0 && size > 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, false, true};
    return {0, true, false};
  }
}

bool LoopbackPortTaken(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  // On loopback the answer comes at once: accepted, or refused.
  int rc;
  do rc = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  while (rc != 0 && errno == EINTR);
  close(s);
  return rc == 0;
}

void CloseConnection(SocketHandle socket) {
  shutdown(static_cast<int>(socket), SHUT_RDWR);
  close(static_cast<int>(socket));
}

bool SocketAddress(SocketHandle socket, bool peer, std::string* ip, int* port) {
  sockaddr_storage a{};
  socklen_t n = sizeof a;
  auto* addr = reinterpret_cast<sockaddr*>(&a);
  if ((peer ? getpeername(static_cast<int>(socket), addr, &n) : getsockname(static_cast<int>(socket), addr, &n)) != 0)
    return false;
  char text[INET6_ADDRSTRLEN] = {};
  if (a.ss_family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    *port = ntohs(v4->sin_port);
  } else if (a.ss_family == AF_INET6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    *port = ntohs(v6->sin6_port);
  } else {
    return false;
  }
  *ip = text;
  return true;
}

}  // namespace quil::platform
