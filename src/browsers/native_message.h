#pragma once
// The browsers' native messaging frame: a 32-bit length in this machine's
// byte order, then that many bytes of UTF-8 JSON. The signing host speaks
// it with the browser on its standard input and output, and with QUIL on
// QUIL's confirmation socket.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "platform/socket_io.h"

namespace quil {

// The largest message taken or sent either way.
constexpr size_t kMaxNativeMessageBytes = 1024 * 1024;

enum class FrameStatus {
  kMessage,    // a whole message was read
  kEnded,      // the input ended between messages
  kTruncated,  // the input ended inside a message
  kTooLarge,   // the length announced is above the limit; its bytes are not read
  kFailed,     // reading failed (or its time ran out)
};

// Reads messages from a source of bytes, never more than one message's
// bytes ahead (a host must not take what belongs to the next message).
class FrameReader {
 public:
  // Fills up to `size` bytes: the count read, 0 at the end of the input,
  // below 0 on a failure.
  using Source = std::function<long(char* buffer, size_t size)>;

  explicit FrameReader(Source source) : source_(std::move(source)) {}

  // The next message's bytes into `*body`.
  FrameStatus Next(std::string* body);

 private:
  // Reads exactly `size` bytes; kEnded when the input ended before the first.
  FrameStatus ReadExactly(char* out, size_t size);

  Source source_;
};

// The frame of `body` (its length, then the body); empty when the body is
// above the limit.
std::string EncodeFrame(const std::string& body);

using Deadline = std::chrono::steady_clock::time_point;

// A message over a connected socket (not blocking), by `deadline`. False
// when the body is above the limit, the connection failed or time ran out.
bool SendFrame(platform::SocketHandle socket, const std::string& body, Deadline deadline);

// The next message from a connected socket, by `deadline` (kFailed after).
FrameStatus ReceiveFrame(platform::SocketHandle socket, Deadline deadline, std::string* body);

}  // namespace quil
