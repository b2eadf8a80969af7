#include "app/host/web_socket.h"

#include <openssl/sha.h>

#include "base/base64.h"

namespace quil::host {
namespace {

constexpr char kAcceptGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr uint16_t kProtocolError = 1002;
constexpr uint16_t kUnsupportedData = 1003;
constexpr uint16_t kTooBig = 1009;

WebSocketMessage Refused(uint16_t code) {
  WebSocketMessage m;
  m.kind = WebSocketMessage::Kind::kRefused;
  m.close_code = code;
  return m;
}

}  // namespace

std::string WebSocketAccept(std::string_view key) {
  std::string text(key);
  text += kAcceptGuid;
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
  return base64Encode(std::string(reinterpret_cast<char*>(digest), sizeof digest));
}

std::string WebSocketFrame(WebSocketOpcode opcode, std::string_view payload) {
  std::string frame;
  frame.reserve(payload.size() + 10);
  frame.push_back(static_cast<char>(0x80 | static_cast<uint8_t>(opcode)));
  const uint64_t n = payload.size();
  // The length in 7 bits, or a marker and 2 or 8 bytes, most significant first.
  const int extra_bytes = n < 126 ? 0 : n <= 0xFFFF ? 2 : 8;
  frame.push_back(static_cast<char>(extra_bytes == 0 ? n : extra_bytes == 2 ? 126 : 127));
  for (int i = extra_bytes - 1; i >= 0; --i) frame.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  frame.append(payload);
  return frame;
}

std::string WebSocketCloseFrame(uint16_t code) {
  const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
  return WebSocketFrame(WebSocketOpcode::kClose, std::string_view(payload, 2));
}

std::optional<WebSocketMessage> ReadWebSocketMessage(const std::function<bool(char*, size_t)>& read_exact,
                                                     const std::function<bool(std::string_view)>& pong,
                                                     size_t max_payload) {
  std::string text;
  bool in_text = false;  // a fragmented text message has begun
  for (;;) {
    unsigned char head[2];
    if (!read_exact(reinterpret_cast<char*>(head), 2)) return std::nullopt;
    const bool fin = head[0] & 0x80;
    const uint8_t opcode = head[0] & 0x0F;
    if ((head[0] & 0x70) != 0 || !(head[1] & 0x80)) return Refused(kProtocolError);  // extensions, unmasked
    uint64_t length = head[1] & 0x7F;
    if (length >= 126) {
      unsigned char ext[8];
      const size_t n = length == 126 ? 2 : 8;
      if (!read_exact(reinterpret_cast<char*>(ext), n)) return std::nullopt;
      length = 0;
      for (size_t i = 0; i < n; ++i) length = (length << 8) | ext[i];
    }
    const bool control = opcode & 0x08;
    if (control && (!fin || length > 125)) return Refused(kProtocolError);
    if (!control && (length > max_payload || text.size() + length > max_payload)) return Refused(kTooBig);
    unsigned char mask[4];
    if (!read_exact(reinterpret_cast<char*>(mask), 4)) return std::nullopt;
    std::string payload(static_cast<size_t>(length), '\0');
    if (length > 0 && !read_exact(payload.data(), payload.size())) return std::nullopt;
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(payload[i] ^ mask[i & 3]);

    switch (opcode) {
      case static_cast<uint8_t>(WebSocketOpcode::kPing):
        if (!pong(payload)) return std::nullopt;
        continue;
      case static_cast<uint8_t>(WebSocketOpcode::kPong):
        continue;
      case static_cast<uint8_t>(WebSocketOpcode::kClose): {
        WebSocketMessage m;
        m.kind = WebSocketMessage::Kind::kClose;
        return m;
      }
      case static_cast<uint8_t>(WebSocketOpcode::kBinary):
        return Refused(kUnsupportedData);
      case static_cast<uint8_t>(WebSocketOpcode::kText):
        if (in_text) return Refused(kProtocolError);
        in_text = true;
        break;
      case 0x0:  // continuation
        if (!in_text) return Refused(kProtocolError);
        break;
      default:
        return Refused(kProtocolError);
    }
    text += payload;
    if (fin) {
      WebSocketMessage m;
      m.payload = std::move(text);
      return m;
    }
  }
}

}  // namespace quil::host
