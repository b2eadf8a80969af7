#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quil::platform {
namespace {

bool AddressOf(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

unsigned long long FileId(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return 0;
  return static_cast<unsigned long long>(st.st_ino);
}

}  // namespace

LocalListener ListenLocalSocket(const std::string& path) {
  LocalListener l;
  // Bound under a name of its own first, then renamed over the path: a
  // client never finds the path missing while one program takes it over
  // from another.
  const std::string own = path + "." + std::to_string(getpid());
  sockaddr_un address{};
  if (!AddressOf(path, &address) || !AddressOf(own, &address)) return l;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return l;
  unlink(own.c_str());
  const mode_t old_mask = umask(0077);
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  umask(old_mask);
  const unsigned long long id = bound ? FileId(own) : 0;
  if (!bound || id == 0 || listen(fd, 16) != 0 || rename(own.c_str(), path.c_str()) != 0) {
    close(fd);
    unlink(own.c_str());
    return l;
  }
  l.socket = fd;
  l.path = path;
  l.file_id = id;
  return l;
}

bool StillListening(const LocalListener& listener) {
  return listener.socket != kNoSocket && FileId(listener.path) == listener.file_id;
}

bool PathVacant(const LocalListener& listener) {
  struct stat st {};
  return lstat(listener.path.c_str(), &st) != 0 && errno == ENOENT;
}

void StopListening(LocalListener* listener) {
  if (listener->socket == kNoSocket) return;
  if (StillListening(*listener)) unlink(listener->path.c_str());
  close(static_cast<int>(listener->socket));
  listener->socket = kNoSocket;
}

SocketHandle ConnectLocalSocket(const std::string& path) {
  sockaddr_un address{};
  if (!AddressOf(path, &address)) return kNoSocket;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    close(fd);
    return kNoSocket;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

bool PeerIsThisUser(SocketHandle connection) {
  ucred peer{};
  socklen_t n = sizeof peer;
  if (getsockopt(static_cast<int>(connection), SOL_SOCKET, SO_PEERCRED, &peer, &n) != 0) return false;
  return peer.uid == getuid();
}

}  // namespace quil::platform
