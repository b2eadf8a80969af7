// The native messaging frame: lengths, the limit, and input that ends
// anywhere, read one byte at a time as a slow pipe delivers it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "browsers/native_message.h"

namespace quil {
namespace {

std::string Head(std::uint32_t length) {
  std::string h(4, '\0');
  std::memcpy(h.data(), &length, 4);
  return h;
}

struct Read {
  std::vector<FrameStatus> statuses;
  std::vector<std::string> bodies;
};

// Every status the reader gives over `input` until it stops giving messages.
Read ReadAll(const std::string& input, size_t chunk) {
  size_t at = 0;
  FrameReader reader([&](char* out, size_t size) -> long {
    size_t n = std::min({size, chunk, input.size() - at});
    std::memcpy(out, input.data() + at, n);
    at += n;
    return static_cast<long>(n);
  });
  Read r;
  for (;;) {
    std::string body;
    FrameStatus s = reader.Next(&body);
    r.statuses.push_back(s);
    if (s != FrameStatus::kMessage) break;
    r.bodies.push_back(body);
  }
  return r;
}

TEST(FrameReader, ReadsEveryKindOfInputToItsEnd) {
  const std::string big(kMaxNativeMessageBytes, 'x');
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> bodies;
    FrameStatus last;
  } cases[] = {
      {"nothing", "", {}, FrameStatus::kEnded},
      {"two messages", EncodeFrame("{\"a\":1}") + EncodeFrame("[]"), {"{\"a\":1}", "[]"}, FrameStatus::kEnded},
      {"an empty message", Head(0), {""}, FrameStatus::kEnded},
      {"exactly the limit", Head(kMaxNativeMessageBytes) + big, {big}, FrameStatus::kEnded},
      {"one byte above the limit", Head(kMaxNativeMessageBytes + 1) + "x", {}, FrameStatus::kTooLarge},
      {"a huge length", Head(0xFFFFFFFFu), {}, FrameStatus::kTooLarge},
      {"a cut length", Head(5).substr(0, 3), {}, FrameStatus::kTruncated},
      {"a cut body", Head(10) + "12345", {}, FrameStatus::kTruncated},
      {"a message, then a cut one", EncodeFrame("{}") + Head(3), {"{}"}, FrameStatus::kTruncated},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{4096}}) {
      Read r = ReadAll(c.input, chunk);
      EXPECT_EQ(r.bodies, c.bodies) << c.name;
      EXPECT_EQ(r.statuses.back(), c.last) << c.name << ", chunks of " << chunk;
    }
  }
}

TEST(FrameReader, AFailingSourceIsAFailure) {
  FrameReader reader([](char*, size_t) -> long { return -1; });
  std::string body;
  EXPECT_EQ(reader.Next(&body), FrameStatus::kFailed);
}

TEST(FrameReader, NeverReadsPastTheMessage) {
  // What follows a message belongs to the next read of the same input.
  const std::string input = EncodeFrame("{}") + "rest";
  size_t at = 0;
  FrameReader reader([&](char* out, size_t size) -> long {
    size_t n = std::min(size, input.size() - at);
    std::memcpy(out, input.data() + at, n);
    at += n;
    return static_cast<long>(n);
  });
  std::string body;
  ASSERT_EQ(reader.Next(&body), FrameStatus::kMessage);
  EXPECT_EQ(input.substr(at), "rest");
}

TEST(EncodeFrame, RefusesABodyAboveTheLimit) {
  EXPECT_EQ(EncodeFrame(std::string(kMaxNativeMessageBytes + 1, 'x')), "");
  EXPECT_EQ(EncodeFrame("ab"), Head(2) + "ab");
}

}  // namespace
}  // namespace quil
