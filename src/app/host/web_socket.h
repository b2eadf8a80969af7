#pragma once
// The WebSocket protocol's pieces the bridge needs (RFC 6455, server side):
// the handshake's accept value, reading the page's messages and writing
// frames. The page's calls travel on one socket because a browser answers
// a socket message in a fraction of the time a fetch() takes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quil::host {

// The Sec-WebSocket-Accept value answering a client's Sec-WebSocket-Key.
std::string WebSocketAccept(std::string_view key);

enum class WebSocketOpcode : uint8_t { kText = 0x1, kBinary = 0x2, kClose = 0x8, kPing = 0x9, kPong = 0xA };

// One unfragmented, unmasked frame, as a server sends it.
std::string WebSocketFrame(WebSocketOpcode opcode, std::string_view payload);
// A close frame carrying `code`.
std::string WebSocketCloseFrame(uint16_t code);

struct WebSocketMessage {
  enum class Kind {
    kText,     // a whole text message (fragments joined)
    kClose,    // the client closes
    kRefused,  // the client broke the protocol; close with `close_code`
  };
  Kind kind = Kind::kText;
  std::string payload;
  uint16_t close_code = 1000;
};

// Reads the next message; `read_exact(buffer, n)` fills exactly n bytes or
// returns false when the connection ends. A ping is answered on the way,
// `pong(payload)` sending the pong (false: the connection ended); pongs are
// skipped. A text message longer than `max_payload`, a binary one, or a
// frame the client did not mask is refused. Empty when the connection ended.
std::optional<WebSocketMessage> ReadWebSocketMessage(const std::function<bool(char*, size_t)>& read_exact,
                                                     const std::function<bool(std::string_view)>& pong,
                                                     size_t max_payload);

}  // namespace quil::host
