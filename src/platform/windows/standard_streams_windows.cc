#include "platform/standard_streams.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace quil::platform {

void UseRawStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

long ReadStandardInput(char* buffer, std::size_t size) {
  return _read(_fileno(stdin), buffer, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

bool WriteStandardOutput(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    int n = _write(_fileno(stdout), bytes.data() + done,
                   static_cast<unsigned>(std::min<std::size_t>(bytes.size() - done, INT_MAX)));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace quil::platform
