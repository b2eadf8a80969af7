#include "platform/standard_streams.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace quil::platform {

void UseRawStandardStreams() { signal(SIGPIPE, SIG_IGN); }

long ReadStandardInput(char* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

bool WriteStandardOutput(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace quil::platform
