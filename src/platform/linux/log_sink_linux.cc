// The diagnostic log's sink: the systemd journal's native socket, else
// standard error.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/diagnostic_log.h"

namespace quil::platform {
namespace {

std::mutex g_mutex;
std::string g_socket_path = "/run/systemd/journal/socket";  // guarded by g_mutex

const char* Priority(LogLevel level) {
  switch (level) {
    case LogLevel::kError: return "3";
    case LogLevel::kWarning: return "4";
    case LogLevel::kInfo: return "6";
    default: return "7";
  }
}

// One journal field; the simple form takes no line break in the value.
void AddField(std::string* datagram, const char* name, const std::string& value) {
  std::string flat = value;
  for (char& c : flat)
    if (c == '\n') c = ' ';
  *datagram += name;
  *datagram += '=';
  *datagram += flat;
  *datagram += '\n';
}

bool SendToJournal(const LogRecord& record, const std::string& line, const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  std::string datagram;
  // The journal stamps its own time: the message is the line without it.
  size_t space = line.find(' ');
  AddField(&datagram, "MESSAGE", space == std::string::npos ? line : line.substr(space + 1));
  AddField(&datagram, "PRIORITY", Priority(record.level));
  AddField(&datagram, "SYSLOG_IDENTIFIER", "quil");
  AddField(&datagram, "QUIL_LAYER", record.layer);
  AddField(&datagram, "QUIL_OPERATION", record.operation);
  AddField(&datagram, "QUIL_RESULT", record.result);
  if (!record.reason.empty()) AddField(&datagram, "QUIL_REASON", record.reason);
  ssize_t sent = sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
                        sizeof address);
  close(fd);
  return sent == static_cast<ssize_t>(datagram.size());
}

}  // namespace

void WriteLogRecord(const LogRecord& record, const std::string& line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (SendToJournal(record, line, g_socket_path)) return;
  std::fprintf(stderr, "quil: %s\n", line.c_str());
  std::fflush(stderr);
}

void SetJournalSocketForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_socket_path = path;
}

}  // namespace quil::platform
