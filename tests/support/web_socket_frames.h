#pragma once
// A browser's side of socket frames, for tests of the page's socket.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quil::testing {

// A frame as a client sends it: `first_byte` (FIN and opcode) and the
// payload, masked unless told otherwise.
inline std::string ClientFrame(uint8_t first_byte, std::string_view payload, bool masked = true) {
  std::string f(1, static_cast<char>(first_byte));
  const uint64_t n = payload.size();
  const int mask_bit = masked ? 0x80 : 0;
  if (n < 126) {
    f.push_back(static_cast<char>(mask_bit | static_cast<int>(n)));
  } else if (n <= 0xFFFF) {
    f.push_back(static_cast<char>(mask_bit | 126));
    for (int shift = 8; shift >= 0; shift -= 8) f.push_back(static_cast<char>((n >> shift) & 0xFF));
  } else {
    f.push_back(static_cast<char>(mask_bit | 127));
    for (int shift = 56; shift >= 0; shift -= 8) f.push_back(static_cast<char>((n >> shift) & 0xFF));
  }
  const char mask[4] = {0x12, 0x34, 0x56, 0x78};
  if (masked) f.append(mask, 4);
  for (size_t i = 0; i < n; ++i) f.push_back(masked ? static_cast<char>(payload[i] ^ mask[i & 3]) : payload[i]);
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
