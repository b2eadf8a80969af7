// The socket protocol's pieces, on byte strings: what a browser sends and
// what it must get back.
#include "app/host/web_socket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/web_socket_frames.h"

namespace quil::host {
namespace {

using quil::testing::ClientFrame;

struct Reading {
  std::optional<WebSocketMessage> message;
  std::vector<std::string> pongs;
  size_t left = 0;  // bytes not read
};

Reading Read(const std::string& bytes, size_t max_payload = 1024 * 1024) {
  Reading r;
  size_t at = 0;
  auto read_exact = [&](char* out, size_t n) {
    if (bytes.size() - at < n) return false;
    std::copy(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n), out);
    at += n;
    return true;
  };
  auto pong = [&](std::string_view p) {
    r.pongs.emplace_back(p);
    return true;
  };
  r.message = ReadWebSocketMessage(read_exact, pong, max_payload);
  r.left = bytes.size() - at;
  return r;
}

TEST(WebSocket, AcceptValueOfTheProtocolsExample) {
  EXPECT_EQ(WebSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WebSocket, ServerFramesCarryTheLengthInTheShortestForm) {
  struct Case {
    size_t n;
    std::string head;
  } kCases[] = {
      {0, std::string("\x81\x00", 2)},
      {125, "\x81\x7D"},
      {126, std::string("\x81\x7E\x00\x7E", 4)},
      {65535, "\x81\x7E\xFF\xFF"},
      {65536, std::string("\x81\x7F\x00\x00\x00\x00\x00\x01\x00\x00", 10)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.n);
    std::string frame = WebSocketFrame(WebSocketOpcode::kText, std::string(c.n, 'a'));
    EXPECT_EQ(frame.substr(0, c.head.size()), c.head);
    EXPECT_EQ(frame.size(), c.head.size() + c.n);
  }
  EXPECT_EQ(WebSocketCloseFrame(1009), std::string("\x88\x02\x03\xF1", 4));
}

TEST(WebSocket, ReadsWholeTextMessages) {
  const std::string call = R"({"id":1,"method":"getClientVersion","args":[]})";
  const std::string big(70000, 'x');
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
    std::vector<std::string> pongs;
  } kCases[] = {
      {"one frame", ClientFrame(0x81, call), call, {}},
      {"16-bit length", ClientFrame(0x81, std::string(300, 'y')), std::string(300, 'y'), {}},
      {"64-bit length", ClientFrame(0x81, big), big, {}},
      {"fragments", ClientFrame(0x01, "ab") + ClientFrame(0x00, "cd") + ClientFrame(0x80, "ef"), "abcdef", {}},
      {"a ping between fragments is answered", ClientFrame(0x01, "ab") + ClientFrame(0x89, "p1") + ClientFrame(0x80, "cd"),
       "abcd", {"p1"}},
      {"a pong is skipped", ClientFrame(0x8A, "") + ClientFrame(0x81, "z"), "z", {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reading r = Read(c.bytes + ClientFrame(0x81, "next"));
    ASSERT_TRUE(r.message);
    EXPECT_EQ(r.message->kind, WebSocketMessage::Kind::kText);
    EXPECT_EQ(r.message->payload, c.text);
    EXPECT_EQ(r.pongs, c.pongs);
    EXPECT_EQ(r.left, ClientFrame(0x81, "next").size()) << "read into the next message";
  }
}

TEST(WebSocket, RefusesWhatBreaksTheProtocolAndEndsWithTheConnection) {
  struct Case {
    const char* name;
    std::string bytes;
    uint16_t code;
  } kCases[] = {
      {"unmasked", ClientFrame(0x81, "a", false), 1002},
      {"binary", ClientFrame(0x82, "a"), 1003},
      {"reserved bits", ClientFrame(0xC1, "a"), 1002},
      {"unknown opcode", ClientFrame(0x83, "a"), 1002},
      {"continuation first", ClientFrame(0x80, "a"), 1002},
      {"text inside a text", ClientFrame(0x01, "a") + ClientFrame(0x81, "b"), 1002},
      {"fragmented ping", ClientFrame(0x09, "a"), 1002},
      {"over the limit", ClientFrame(0x81, std::string(101, 'a')), 1009},
      {"over the limit in fragments", ClientFrame(0x01, std::string(60, 'a')) + ClientFrame(0x80, std::string(60, 'a')),
       1009},
      {"a length no one can send", std::string("\x81\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10), 1009},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reading r = Read(c.bytes, 100);
    ASSERT_TRUE(r.message);
    EXPECT_EQ(r.message->kind, WebSocketMessage::Kind::kRefused);
    EXPECT_EQ(r.message->close_code, c.code);
  }
  Reading closed = Read(ClientFrame(0x88, std::string("\x03\xE8", 2)));
  ASSERT_TRUE(closed.message);
  EXPECT_EQ(closed.message->kind, WebSocketMessage::Kind::kClose);
  for (const std::string& cut : {std::string(), std::string("\x81"), ClientFrame(0x81, "abc").substr(0, 7)}) {
    SCOPED_TRACE(cut.size());
    EXPECT_FALSE(Read(cut).message) << "a connection that ends mid-frame";
  }
}

}  // namespace
}  // namespace quil::host
