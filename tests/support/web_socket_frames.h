#pragma once
// A browser's side of socket frames, for tests of the page's socket.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/host/web_socket.h"

namespace quil::testing {

// A frame as a client sends it: `first_byte` (FIN and opcode) and the
// payload, masked unless told otherwise. The length is encoded as the
// server encodes it.
inline std::string ClientFrame(uint8_t first_byte, std::string_view payload, bool masked = true) {
  std::string f = host::WebSocketFrame(host::WebSocketOpcode::kText, payload);
  const size_t head = f.size() - payload.size();
  f[0] = static_cast<char>(first_byte);
  if (!masked) return f;
  f[1] = static_cast<char>(f[1] | 0x80);
  const char mask[4] = {0x12, 0x34, 0x56, 0x78};
  f.insert(head, mask, 4);
  for (size_t i = 0; i < payload.size(); ++i) f[head + 4 + i] = static_cast<char>(payload[i] ^ mask[i & 3]);
  return f;
}

struct ServerFrame {
  int opcode = 0;
  std::string payload;
};

// The server's (unmasked, whole) frames in `bytes`, up to the first that is
// cut short.
inline std::vector<ServerFrame> ServerFrames(std::string_view bytes) {
  std::vector<ServerFrame> out;
  size_t at = 0;
  while (bytes.size() - at >= 2) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[at + i]); };
    uint64_t n = byte(1) & 0x7F;
    size_t head = 2;
    if (n >= 126) {
      head = n == 126 ? 4 : 10;
      if (bytes.size() - at < head) break;
      n = 0;
      for (size_t i = 2; i < head; ++i) n = (n << 8) | byte(i);
    }
    if (bytes.size() - at - head < n) break;
    out.push_back({byte(0) & 0x0F, std::string(bytes.substr(at + head, n))});
    at += head + n;
  }
  return out;
}

}  // namespace quil::testing
