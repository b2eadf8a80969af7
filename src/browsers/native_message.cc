#include "browsers/native_message.h"

#include <cstdint>
#include <cstring>

namespace quil {

FrameStatus FrameReader::ReadExactly(char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    long n = source_(out + done, size - done);
    if (n < 0) return FrameStatus::kFailed;
    if (n == 0) return done == 0 ? FrameStatus::kEnded : FrameStatus::kTruncated;
    done += static_cast<size_t>(n);
  }
  return FrameStatus::kMessage;
}

FrameStatus FrameReader::Next(std::string* body) {
  body->clear();
  std::uint32_t length = 0;
  FrameStatus head = ReadExactly(reinterpret_cast<char*>(&length), sizeof length);
  if (head != FrameStatus::kMessage) return head;
  if (length > kMaxNativeMessageBytes) return FrameStatus::kTooLarge;
  body->resize(length);
  if (length == 0) return FrameStatus::kMessage;
  FrameStatus rest = ReadExactly(body->data(), length);
  if (rest == FrameStatus::kEnded) rest = FrameStatus::kTruncated;  // the head came, the body did not
  if (rest != FrameStatus::kMessage) body->clear();
  return rest;
}

std::string EncodeFrame(const std::string& body) {
  if (body.size() > kMaxNativeMessageBytes) return {};
  std::uint32_t length = static_cast<std::uint32_t>(body.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  return frame + body;
}

namespace {

std::chrono::milliseconds Left(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

}  // namespace

bool SendFrame(platform::SocketHandle socket, const std::string& body, Deadline deadline) {
  const std::string frame = EncodeFrame(body);
  if (frame.empty()) return false;
  size_t sent = 0;
  while (sent < frame.size()) {
    platform::SocketTransfer t = platform::SendAvailable(socket, frame.data() + sent, frame.size() - sent);
    if (t.ended) return false;
    sent += t.bytes;
    if (t.would_block && !platform::WaitWritable(socket, Left(deadline))) return false;
  }
  return true;
}

FrameStatus ReceiveFrame(platform::SocketHandle socket, Deadline deadline, std::string* body) {
  FrameReader reader([socket, deadline](char* buffer, size_t size) -> long {
    for (;;) {
      platform::SocketTransfer t = platform::ReceiveAvailable(socket, buffer, size);
      if (t.bytes > 0) return static_cast<long>(t.bytes);
      if (t.ended) return 0;
      auto left = Left(deadline);
      if (left.count() == 0) return -1;
      (void)platform::WaitReadable({socket}, left);
    }
  });
  return reader.Next(body);
}

}  // namespace quil
