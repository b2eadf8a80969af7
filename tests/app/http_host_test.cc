// The bridge API over real loopback HTTP, as the page and automation use it.
#include "app/host/http_host.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "app/host/page_ui.h"
#include "support/socket_probe.h"
#include "support/test_env.h"
#include "support/web_socket_frames.h"

namespace quil::host {
namespace {

using nlohmann::json;
using quil::testing::ScopedTestHome;
using quil::testing::WriteFileForTest;

class HttpHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::SetUi(&page_ui_);
    ASSERT_TRUE(host_.Bind(0));
    host_.Start();
  }
  void TearDown() override {
    channel_.Close();
    app_.Stop();
    host_.Stop();
    ui::SetUi(nullptr);
  }

  std::string HostHeader() const { return "127.0.0.1:" + std::to_string(host_.port()); }

  httplib::Client Client() {
    httplib::Client c("127.0.0.1", host_.port());
    c.set_read_timeout(10, 0);
    c.set_connection_timeout(10, 0);
    return c;
  }

  httplib::Result Call(const std::string& method, json args, httplib::Headers headers = {}) {
    if (headers.empty()) headers = {{"X-QUIL-Token", token_}};
    return Client().Post("/api/call", headers, json{{"method", method}, {"args", args}}.dump(),
                         "application/json");
  }

  const std::string token_ = MakeToken();
  EventChannel channel_;
  AppThread app_;
  PageUi page_ui_{&channel_};
  HttpHost host_{&channel_, &app_, token_};
};

// Answers leave in two writes (head, body); with Nagle's algorithm on the
// body waits for the page's delayed acknowledgement on every call.
TEST_F(HttpHostTest, ConnectionsSendWithoutWaitingForAcknowledgements) {
  EXPECT_EQ(quil::testing::AcceptedSocketHasNoDelay(host_.port()), std::optional<bool>(true));
}

// No second socket listens on the page's port beside the host: it would take
// a share of the page's connections (a restarted copy's predecessor resets
// them as it ends; another program would read the page's cookie).
TEST_F(HttpHostTest, NoOtherSocketListensOnThePort) {
  int other = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(other, 0);
  int yes = 1;
  setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  setsockopt(other, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<uint16_t>(host_.port()));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_NE(bind(other, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  close(other);
}

TEST_F(HttpHostTest, RefusesForeignOrUnauthenticatedRequestsBeforeRunningAnything) {
  ScopedTestHome home;
  std::string src = home.path() + "/a.p12";
  std::string dst = home.path() + "/b.p12";
  WriteFileForTest(src, "x");
  std::string origin = "http://" + HostHeader();
  struct Case {
    const char* name;
    httplib::Headers headers;
    int status;
  } kCases[] = {
      {"no token", {{"Content-Type", "application/json"}}, 403},
      {"wrong token", {{"X-QUIL-Token", std::string(token_.size(), 'a')}}, 403},
      {"token prefix", {{"X-QUIL-Token", token_.substr(0, 10)}}, 403},
      {"foreign host", {{"X-QUIL-Token", token_}, {"Host", "evil.example:80"}}, 403},
      {"host with other port", {{"X-QUIL-Token", token_}, {"Host", "127.0.0.1:1"}}, 403},
      {"foreign origin", {{"X-QUIL-Token", token_}, {"Origin", "http://evil.example"}}, 403},
      {"origin over https", {{"X-QUIL-Token", token_}, {"Origin", "https://" + HostHeader()}}, 403},
      {"null origin", {{"X-QUIL-Token", token_}, {"Origin", "null"}}, 403},
      {"wrong cookie", {{"Cookie", "quil_token=" + std::string(64, '0')}}, 403},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto res = Call("copyFile", {src, dst}, c.headers);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.status);
    EXPECT_FALSE(res->has_header("Access-Control-Allow-Origin"));
  }
  EXPECT_NE(access(dst.c_str(), F_OK), 0) << "a refused call ran";

  struct Allowed {
    const char* name;
    httplib::Headers headers;
  } kAllowed[] = {
      {"header token", {{"X-QUIL-Token", token_}}},
      {"cookie token and page origin", {{"Cookie", "x=1; quil_token=" + token_}, {"Origin", origin}}},
      {"localhost", {{"X-QUIL-Token", token_}, {"Host", "localhost:" + std::to_string(host_.port())}}},
  };
  for (const auto& c : kAllowed) {
    SCOPED_TRACE(c.name);
    auto res = Call("getClientVersion", json::array(), c.headers);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
  }
}

TEST_F(HttpHostTest, PageSetsAStrictCookieOnlyForTheRightTokenAndCarriesAPolicy) {
  auto page = Client().Get(("/?token=" + token_).c_str());
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  std::string cookie = page->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("quil_token=" + token_), std::string::npos);
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  std::string csp = page->get_header_value("Content-Security-Policy");
  EXPECT_NE(csp.find("script-src 'self'"), std::string::npos);
  EXPECT_EQ(csp.find("unsafe"), std::string::npos);

  auto wrong = Client().Get("/?token=0000");
  ASSERT_TRUE(wrong);
  EXPECT_FALSE(wrong->has_header("Set-Cookie"));
  auto foreign = Client().Get("/", {{"Host", "evil.example"}});
  EXPECT_EQ(foreign->status, 403);
  EXPECT_EQ(Client().Get("/no-such-file.js")->status, 404);

  // Loopback bytes are not worth compressing, whatever the browser accepts.
  auto script = Client().Get("/js/main.js", {{"Accept-Encoding", "gzip, deflate, br, zstd"}});
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200);
  EXPECT_FALSE(script->has_header("Content-Encoding"));
}

TEST_F(HttpHostTest, CallAnswersByReturnKindAndRejectsBadRequests) {
  auto text = Call("getClientVersion", json::array());
  EXPECT_EQ(json::parse(text->body),
            (json{{"returns", "text"}, {"value", "{'errCode':'0','errMsg':'','clientVersion':'1.9'}"}}));
  EXPECT_EQ(json::parse(Call("doTest", {"A1"})->body), (json{{"returns", "nothing"}}));
  EXPECT_EQ(json::parse(Call("doLogout", {"A1"})->body)["returns"], "short");

  EXPECT_EQ(Call("noSuchMethod", json::array())->status, 404);
  EXPECT_EQ(Call("isFileExist", json::array())->status, 400);
  EXPECT_EQ(Call("isFileExist", {"a", "b"})->status, 400);
  EXPECT_EQ(Call("isFileExist", {1})->status, 400);
  auto malformed = Client().Post("/api/call", {{"X-QUIL-Token", token_}}, "{nope", "application/json");
  EXPECT_EQ(malformed->status, 400);
}

// Reads the event stream on a thread of its own and hands out its frames.
class EventReader {
 public:
  EventReader(int port, const std::string& token) {
    thread_ = std::thread([this, port, token] {
      httplib::Client c("127.0.0.1", port);
      c.set_read_timeout(30, 0);
      c.Get("/api/events", {{"X-QUIL-Token", token}}, [this](const char* data, size_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        buffer_.append(data, n);
        changed_.notify_all();
        return !stop_;
      });
    });
  }
  // The stream sends a keep-alive each second, so the reader ends soon.
  ~EventReader() {
    stop_ = true;
    thread_.join();
  }
  // The data of the first event of `type` that arrives within 10 s.
  json WaitFor(const std::string& type) {
    std::unique_lock<std::mutex> lock(mutex_);
    json found;
    changed_.wait_for(lock, std::chrono::seconds(10), [&] {
      size_t pos = buffer_.find("event: " + type + "\n");
      if (pos == std::string::npos) return false;
      size_t data = buffer_.find("data: ", pos);
      size_t end = buffer_.find("\n", data);
      if (data == std::string::npos || end == std::string::npos) return false;
      found = json::parse(buffer_.substr(data + 6, end - data - 6));
      return true;
    });
    return found;
  }

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string buffer_;
  std::atomic<bool> stop_{false};
};

TEST_F(HttpHostTest, AQuestionWaitsForThePageAndIsReplayedToANewStream) {
  EventReader first(host_.port(), token_);
  std::string reply;
  std::thread call([&] {
    auto res = Call("openFileChooser", json::array());
    if (res) reply = res->body;
  });

  json question = first.WaitFor("chooseFolder");
  ASSERT_TRUE(question.contains("id"));
  EXPECT_EQ(question["title"], "請選擇憑證檔儲存資料夾");

  EventReader reloaded(host_.port(), token_);  // a reloaded page sees the open question
  EXPECT_EQ(reloaded.WaitFor("chooseFolder")["id"], question["id"]);

  auto answer = Client().Post("/api/answer", {{"X-QUIL-Token", token_}},
                              json{{"id", question["id"]}, {"answer", {{"path", "/srv/certs"}}}}.dump(),
                              "application/json");
  EXPECT_EQ(answer->status, 200);
  call.join();
  EXPECT_EQ(json::parse(reply)["value"], "{'errCode':'1','errMsg':'','path':'/srv/certs/'}");

  auto again = Client().Post("/api/answer", {{"X-QUIL-Token", token_}},
                             json{{"id", question["id"]}, {"answer", {{"path", "/x"}}}}.dump(),
                             "application/json");
  EXPECT_EQ(again->status, 404) << "a question is answered once";
}

TEST_F(HttpHostTest, FolderListingGivesNamesAndKinds) {
  ScopedTestHome home;
  WriteFileForTest(home.path() + "/certs/a.p12", "x");
  auto res = Client().Get(("/api/fs?path=" + httplib::detail::encode_query_param(home.path() + "/certs")).c_str(),
                          {{"X-QUIL-Token", token_}});
  ASSERT_EQ(res->status, 200);
  json listing = json::parse(res->body);
  EXPECT_EQ(listing["path"], home.path() + "/certs");
  EXPECT_EQ(listing["parent"], home.path());
  EXPECT_EQ(listing["entries"], (json::array({{{"name", "a.p12"}, {"kind", "file"}}})));
  auto missing = Client().Get("/api/fs?path=/no/such", {{"X-QUIL-Token", token_}});
  EXPECT_EQ(missing->status, 404);
  // The system would read only up to the NUL and list another folder.
  std::string with_nul = httplib::detail::encode_query_param(home.path() + "/certs") + "%00/x";
  EXPECT_EQ(Client().Get(("/api/fs?path=" + with_nul).c_str(), {{"X-QUIL-Token", token_}})->status, 400);
  EXPECT_EQ(Client().Get("/api/fs?path=/%00", {{"X-QUIL-Token", token_}})->status, 400);
}

TEST_F(HttpHostTest, BodiesAboveTheLimitAreRefusedUnread) {
  std::string big(kMaxBodyBytes + 1, ' ');
  auto res = Client().Post("/api/call", {{"X-QUIL-Token", token_}}, big, "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 413);
  // Without the token the answer comes before any of the body is read.
  quil::testing::RawConnection stranger(host_.port());
  stranger.Send("POST /api/call HTTP/1.1\r\nHost: " + HostHeader() + "\r\nContent-Length: 100000000\r\n\r\n");
  auto refused = stranger.ReadUntilClosed(std::chrono::seconds(10));
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->substr(0, 12), "HTTP/1.1 403");
  // A body within the limit is read as before.
  std::string padded = json{{"method", "getClientVersion"}, {"args", json::array()}}.dump();
  padded.append(kMaxBodyBytes - padded.size(), ' ');
  auto fits = Client().Post("/api/call", {{"X-QUIL-Token", token_}}, padded, "application/json");
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->status, 200);
}

// A host whose time limits are short, for clients that never finish.
class ShortLimitsHostTest : public ::testing::Test {
 protected:
  static ServerLimits Limits() {
    ServerLimits l;
    l.head_time = std::chrono::milliseconds(500);
    l.body_time = std::chrono::milliseconds(500);
    l.max_head = 4096;
    return l;
  }
  void SetUp() override {
    ASSERT_TRUE(host_.Bind(0));
    host_.Start();
  }
  void TearDown() override {
    channel_.Close();
    app_.Stop();
    host_.Stop();
  }
  const std::string token_ = MakeToken();
  EventChannel channel_;
  AppThread app_;
  HttpHost host_{&channel_, &app_, token_, Limits()};
};

TEST_F(ShortLimitsHostTest, RequestsThatDoNotArriveInTimeAreClosed) {
  std::string host = "Host: 127.0.0.1:" + std::to_string(host_.port()) + "\r\n";
  struct Case {
    const char* name;
    std::string sent;
    const char* answer;  // the status line's start, or "" for none
  } kCases[] = {
      {"nothing at all", "", "HTTP/1.1 408"},
      {"half a head", "GET / HTTP/1.1\r\nHo", "HTTP/1.1 408"},
      {"head without end", "GET / HTTP/1.1\r\nX-A: " + std::string(5000, 'a'), "HTTP/1.1 431"},
      {"body cut short", "POST /api/call HTTP/1.1\r\n" + host + "X-QUIL-Token: " + token_ +
                             "\r\nContent-Length: 100\r\n\r\n{\"method\"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    quil::testing::RawConnection client(host_.port());
    ASSERT_TRUE(client.connected());
    client.Send(c.sent);
    auto answer = client.ReadUntilClosed(std::chrono::seconds(10));
    ASSERT_TRUE(answer.has_value()) << "the connection is still open";
    EXPECT_EQ(answer->substr(0, std::string(c.answer).size()), c.answer);
  }
}

// The page's connection is kept: requests that arrive together, or in
// pieces, are each answered in turn, none losing bytes to the one before.
TEST_F(HttpHostTest, KeptConnectionAnswersRequestsThatArriveTogetherOrInPieces) {
  auto request = [&](const std::string& method, const json& args, bool last) {
    std::string body = json{{"method", method}, {"args", args}}.dump();
    return "POST /api/call HTTP/1.1\r\nHost: " + HostHeader() + "\r\nX-QUIL-Token: " + token_ +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           (last ? "Connection: close\r\n" : "") + "\r\n" + body;
  };
  quil::testing::RawConnection client(host_.port());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Send(request("getClientVersion", json::array(), false) + request("doTest", {"A1"}, false)));
  std::string third = request("getClientVersion", json::array(), true);
  for (size_t at = 0; at < third.size(); at += 97) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(client.Send(third.substr(at, 97)));
  }
  auto answers = client.ReadUntilClosed(std::chrono::seconds(10));
  ASSERT_TRUE(answers.has_value()) << "the connection is still open";
  std::vector<std::string> bodies;
  for (size_t at = answers->find("HTTP/1.1 "); at != std::string::npos; at = answers->find("HTTP/1.1 ", at + 1)) {
    EXPECT_EQ(answers->substr(at, 12), "HTTP/1.1 200");
    size_t body = answers->find("\r\n\r\n", at) + 4;
    bodies.push_back(answers->substr(body, answers->find("HTTP/1.1 ", body) - body));
  }
  ASSERT_EQ(bodies.size(), 3u) << *answers;
  EXPECT_NE(bodies[0].find("clientVersion"), std::string::npos);
  EXPECT_EQ(json::parse(bodies[1]), (json{{"returns", "nothing"}}));
  EXPECT_NE(bodies[2].find("clientVersion"), std::string::npos);
}

// The page's calls on its socket answer as /api/call does; the socket opens
// only for the page (its token, its origin, this program's host).
TEST_F(HttpHostTest, TheSocketCarriesThePagesCallsAndOpensOnlyForThePage) {
  using quil::testing::ClientFrame;
  const std::string origin = "http://" + HostHeader();
  auto opening = [&](const std::string& extra) {
    return "GET /api/socket HTTP/1.1\r\nHost: " + HostHeader() +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
           "Sec-WebSocket-Version: 13\r\n" + extra + "\r\n";
  };
  {
    quil::testing::RawConnection page(host_.port());
    ASSERT_TRUE(page.connected());
    ASSERT_TRUE(page.Send(opening("Cookie: quil_token=" + token_ + "\r\nOrigin: " + origin + "\r\n") +
                          ClientFrame(0x81, R"({"id":7,"method":"getClientVersion","args":[]})") +
                          ClientFrame(0x81, R"({"id":8,"method":"noSuchMethod","args":[]})") +
                          ClientFrame(0x81, R"({"id":9,"method":"doTest","args":["A1"]})") +
                          ClientFrame(0x88, std::string("\x03\xE8", 2))));
    auto answer = page.ReadUntilClosed(std::chrono::seconds(10));
    ASSERT_TRUE(answer.has_value()) << "the socket is still open";
    const size_t head_end = answer->find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos) << *answer;
    EXPECT_EQ(answer->substr(0, 12), "HTTP/1.1 101");
    EXPECT_NE(answer->find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos);
    auto frames = quil::testing::ServerFrames(std::string_view(*answer).substr(head_end + 4));
    ASSERT_EQ(frames.size(), 4u) << *answer;
    EXPECT_EQ(json::parse(frames[0].payload),
              (json{{"id", 7}, {"status", 200},
                    {"body", {{"returns", "text"}, {"value", "{'errCode':'0','errMsg':'','clientVersion':'1.9'}"}}}}));
    EXPECT_EQ(json::parse(frames[1].payload),
              (json{{"id", 8}, {"status", 404}, {"body", {{"error", "unknown method"}}}}));
    EXPECT_EQ(json::parse(frames[2].payload), (json{{"id", 9}, {"status", 200}, {"body", {{"returns", "nothing"}}}}));
    EXPECT_EQ(frames[3].opcode, 0x8);
  }
  struct Case {
    const char* name;
    std::string extra;
  } kRefused[] = {
      {"no token", "Origin: " + origin + "\r\n"},
      {"wrong token", "Cookie: quil_token=" + std::string(64, '0') + "\r\n"},
      {"foreign origin", "Cookie: quil_token=" + token_ + "\r\nOrigin: http://evil.example\r\n"},
  };
  for (const auto& c : kRefused) {
    SCOPED_TRACE(c.name);
    quil::testing::RawConnection other(host_.port());
    ASSERT_TRUE(other.Send(opening(c.extra) + ClientFrame(0x81, R"({"id":1,"method":"doTest","args":["A1"]})")));
    auto answer = other.ReadUntilClosed(std::chrono::seconds(10));
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->substr(0, 12), "HTTP/1.1 403") << *answer;
  }
}

// A page socket holds a worker only while it carries calls: sockets left
// open and idle, more than there are workers, keep nothing from the page,
// and each answers again when it speaks.
TEST_F(HttpHostTest, IdleSocketsLeaveThePageServed) {
  using quil::testing::ClientFrame;
  const std::string opening = "GET /api/socket HTTP/1.1\r\nHost: " + HostHeader() +
                              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                              "Cookie: quil_token=" + token_ + "\r\nOrigin: http://" + HostHeader() + "\r\n\r\n";
  EventReader events(host_.port(), token_);
  std::vector<std::unique_ptr<quil::testing::RawConnection>> sockets;
  for (int i = 0; i < 12; ++i) {
    sockets.push_back(std::make_unique<quil::testing::RawConnection>(host_.port()));
    ASSERT_TRUE(sockets.back()->Send(opening));
  }
  for (auto& s : sockets) {
    std::string answer = s->ReadAtLeast(12, std::chrono::seconds(10));
    ASSERT_EQ(answer.substr(0, 12), "HTTP/1.1 101") << "every socket opens";
  }
  // Every one idle now, longer than a kept connection waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  {
    httplib::Client c("127.0.0.1", host_.port());
    c.set_read_timeout(1, 0);
    auto res = c.Post("/api/call", {{"X-QUIL-Token", token_}},
                      json{{"method", "getClientVersion"}, {"args", json::array()}}.dump(), "application/json");
    ASSERT_TRUE(res) << "the page's call waited behind idle sockets";
    EXPECT_EQ(res->status, 200);
  }
  for (int i : {0, 11}) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(sockets[i]->Send(ClientFrame(0x81, R"({"id":3,"method":"doTest","args":["A1"]})")));
    auto frames = quil::testing::ServerFrames(sockets[i]->ReadAtLeast(10, std::chrono::seconds(1)));
    ASSERT_EQ(frames.size(), 1u) << "the idle socket answers again";
    EXPECT_EQ(json::parse(frames[0].payload), (json{{"id", 3}, {"status", 200}, {"body", {{"returns", "nothing"}}}}));
  }
}

// Local processes other than the page may open as many connections as they
// like and send as slowly as they like: the page's calls are still answered.
TEST_F(HttpHostTest, SlowAndIdleClientsLeaveThePageServed) {
  EventReader events(host_.port(), token_);
  std::vector<std::unique_ptr<quil::testing::RawConnection>> others;
  for (int i = 0; i < 100; ++i) others.push_back(std::make_unique<quil::testing::RawConnection>(host_.port()));
  for (int i = 0; i < 300; ++i) {  // more than wait at once: the oldest go
    auto idle = std::make_unique<quil::testing::RawConnection>(host_.port());
    idle->Send("GET / HTTP/1.1\r\n");
    others.push_back(std::move(idle));
  }
  std::atomic<bool> done{false};
  std::thread slow([&] {
    // One byte of a request head every 100 ms from each of the first 100.
    const std::string head = "GET /api/call HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: " + std::string(200, 'x');
    for (size_t at = 0; !done && at < head.size(); ++at) {
      for (int i = 0; i < 100; ++i) others[i]->Send(head.substr(at, 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    auto res = Call("getClientVersion", json::array());
    ASSERT_TRUE(res) << "the page's call was not answered";
    EXPECT_EQ(res->status, 200);
  }
  done = true;
  slow.join();
}

}  // namespace
}  // namespace quil::host
