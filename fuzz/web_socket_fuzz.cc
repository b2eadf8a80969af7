// What the page's socket reads from its connection: client frames, one
// message after another, with a small size limit so that long lengths are
// refused before anything is allocated. Every text message stays within the
// limit, every pong echoes a ping of at most 125 bytes, and nothing is read
// beyond the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/host/web_socket.h"

namespace {

constexpr size_t kMaxPayload = 1024;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  auto read_exact = [&](char* buffer, size_t n) {
    Check(n <= kMaxPayload || n <= 8);  // never asked for more than a frame may hold
    if (size - at < n) {
      at = size;
      return false;
    }
    std::memcpy(buffer, data + at, n);
    at += n;
    return true;
  };
  auto pong = [](std::string_view payload) {
    Check(payload.size() <= 125);
    return true;
  };
  using Kind = quil::host::WebSocketMessage::Kind;
  for (int messages = 0; messages < 64; ++messages) {
    auto message = quil::host::ReadWebSocketMessage(read_exact, pong, kMaxPayload);
    Check(at <= size);
    if (!message) break;
    if (message->kind == Kind::kText) {
      Check(message->payload.size() <= kMaxPayload);
      continue;
    }
    Check(message->payload.empty());
    if (message->kind == Kind::kRefused)
      Check(message->close_code == 1002 || message->close_code == 1003 || message->close_code == 1009);
    break;
  }
  return 0;
}
