#include "support/socket_probe.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace quil::testing {
namespace {

int LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0 || a.sin_family != AF_INET) return -1;
  return ntohs(a.sin_port);
}

int PeerPort(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0 || a.sin_family != AF_INET) return -1;
  return ntohs(a.sin_port);
}

// The descriptor whose local end is the server's port and whose peer is the
// client's port: the server's end of that one connection.
int FindAccepted(int server_port, int client_port) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int found = -1;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0') continue;
    struct stat st;
    if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    if (LocalPort(static_cast<int>(fd)) == server_port && PeerPort(static_cast<int>(fd)) == client_port) {
      found = static_cast<int>(fd);
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

std::optional<bool> AcceptedSocketHasNoDelay(int server_port) {
  int client = socket(AF_INET, SOCK_STREAM, 0);
  if (client < 0) return std::nullopt;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(server_port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::optional<bool> result;
  if (connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    int client_port = LocalPort(client);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!result && std::chrono::steady_clock::now() < deadline) {
      int fd = FindAccepted(server_port, client_port);
      int on = 0;
      socklen_t n = sizeof on;
      if (fd >= 0 && getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &n) == 0) result = on != 0;
      else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  close(client);
  return result;
}

RawConnection::RawConnection(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

RawConnection::~RawConnection() {
  if (fd_ >= 0) close(fd_);
}

bool RawConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

std::optional<std::string> RawConnection::ReadUntilClosed(std::chrono::milliseconds limit) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (fd_ >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
  return std::nullopt;
}

std::string RawConnection::ReadAtLeast(size_t bytes, std::chrono::milliseconds limit) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (fd_ >= 0 && out.size() < bytes) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace quil::testing
