#include "platform/socket_io.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

namespace quil::platform {
namespace {

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }

void SetNonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

std::vector<bool> Wait(const std::vector<SocketHandle>& sockets, SHORT events, std::chrono::milliseconds timeout) {
  std::vector<WSAPOLLFD> fds(sockets.size());
  for (size_t i = 0; i < sockets.size(); ++i) fds[i] = {Native(sockets[i]), events, 0};
  std::vector<bool> ready(sockets.size(), false);
  if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), static_cast<INT>(timeout.count())) <= 0) return ready;
  for (size_t i = 0; i < sockets.size(); ++i) ready[i] = fds[i].revents != 0;
  return ready;
}

SocketTransfer Outcome(int n) {
  if (n > 0) return {static_cast<size_t>(n), false, false};
  if (n == 0) return {0, true, false};
  return WSAGetLastError() == WSAEWOULDBLOCK ? SocketTransfer{0, false, true} : SocketTransfer{0, true, false};
}

}  // namespace

void ListenAlone(SocketHandle socket) {
  BOOL yes = TRUE;
  setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
}

void AllowLongListenQueue(SocketHandle listener) { listen(Native(listener), SOMAXCONN); }

SocketHandle AcceptConnection(SocketHandle listener) {
  SetNonBlocking(Native(listener));
  for (;;) {
    SOCKET s = accept(Native(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
      if (WSAGetLastError() == WSAECONNRESET) continue;  // gone before we took it
      return kNoSocket;
    }
    SetNonBlocking(s);
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(s);
  }
}

std::vector<bool> WaitReadable(const std::vector<SocketHandle>& sockets, std::chrono::milliseconds timeout) {
  return Wait(sockets, POLLRDNORM, timeout);
}

bool WaitWritable(SocketHandle socket, std::chrono::milliseconds timeout) {
  return Wait({socket}, POLLWRNORM, timeout)[0];
}

SocketTransfer ReceiveAvailable(SocketHandle socket, char* buffer, size_t size) {
  return Outcome(recv(Native(socket), buffer, static_cast<int>(size), 0));
}

SocketTransfer SendAvailable(SocketHandle socket, const char* bytes, size_t size) {
  int n = send(Native(socket), bytes, static_cast<int>(size), 0);
  if (n == 0 && size > 0) return {0, false, true};
  return Outcome(n);
}

bool LoopbackPortTaken(int port) {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<u_short>(port));
  bool taken = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  closesocket(s);
  return taken;
}

void CloseConnection(SocketHandle socket) {
  shutdown(Native(socket), SD_BOTH);
  closesocket(Native(socket));
}

bool SocketAddress(SocketHandle socket, bool peer, std::string* ip, int* port) {
  sockaddr_storage a{};
  int n = sizeof a;
  auto* addr = reinterpret_cast<sockaddr*>(&a);
  if ((peer ? getpeername(Native(socket), addr, &n) : getsockname(Native(socket), addr, &n)) != 0) return false;
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
