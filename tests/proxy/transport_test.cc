#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "fake_proxy.h"
#include "proxy/download.h"
#include "proxy/transport.h"

namespace quil::proxy {
namespace {

using testing::ProxyTestEnv;
using testing::Raw;

// A loopback port nothing listens on.
int ClosedPort() {
  testing::FakeProxy gone;
  return gone.port();
}

TEST(TransportTest, StatusAndBodyOutcomes) {
  ProxyTestEnv env;
  const std::string big(1500 * 1024, 'b');
  env.proxy().On("/ok", Raw(200, "hello"));
  env.proxy().On("/big", Raw(200, big));
  env.proxy().On("/empty", Raw(200, ""));
  env.proxy().On("/missing", Raw(404, "not here"));
  env.proxy().On("/broken", Raw(500, "oops"));
  struct Case {
    const char* name;
    const char* path;
    int result;
    std::string body;
  } kCases[] = {
      {"200 with a body", "/ok", kHttpOk, "hello"},
      {"a body over 1 MB arrives whole", "/big", kHttpOk, big},
      {"200 with an empty body", "/empty", kHttpNothing, ""},
      {"404", "/missing", kHttpNothing, ""},
      {"500", "/broken", kHttpNothing, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    HttpReply post = httpPost(env.proxy().origin() + c.path, {{"a", "1"}});
    EXPECT_EQ(post.result, c.result);
    if (c.result == kHttpOk) {
      EXPECT_EQ(post.body, c.body);
    }
    HttpReply get = httpGet(env.proxy().origin() + c.path);
    EXPECT_EQ(get.result, c.result);
  }
  EXPECT_TRUE(env.ui().messages.empty());
  auto seen = env.proxy().Requests("/ok");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[1].method, "GET");
}

TEST(TransportTest, EmptyFieldMapPostsAnEmptyBodyWithTheHeader) {
  ProxyTestEnv env;
  env.proxy().On("/form", Raw(200, "x"));
  ASSERT_EQ(httpPost(env.proxy().origin() + "/form?q=1", {}).result, kHttpOk);
  auto seen = env.proxy().Requests("/form");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].body, "");
  EXPECT_EQ(seen[0].content_type, "application/x-www-form-urlencoded; charset: UTF-8");
}

TEST(TransportTest, UnreachableHostShowsOneBoxForPostOnly) {
  ProxyTestEnv env;
  const int port = ClosedPort();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/PELIProxy/proxy/doLogin";

  HttpReply post = httpPost(url, {{"aid", "x"}});
  EXPECT_EQ(post.result, kHttpNetwork);
  ASSERT_EQ(env.ui().messages.size(), 1u);
  const std::string& box = env.ui().messages[0];
  EXPECT_EQ(box.rfind("與伺服器(127.0.0.1:" + std::to_string(port) + ")間網路連線發生錯誤!!\n[7]", 0), 0u) << box;

  HttpReply get = httpGet(url);
  EXPECT_EQ(get.result, kHttpNetwork);
  EXPECT_EQ(env.ui().messages.size(), 1u);
}

TEST(TransportTest, SilentServerIsAbandonedAfterTheStallLimit) {
  ProxyTestEnv env;
  HttpReply r;
  {
    testing::RawServer server([](int c) {  // reads, never answers
      char buf[4096];
      while (read(c, buf, sizeof buf) > 0) {
      }
    });
    SetStallSecondsForTesting(1);
    r = httpPost(server.origin() + "/x", {{"a", "1"}});
    SetStallSecondsForTesting(0);
  }
  EXPECT_EQ(r.result, kHttpNetwork);
  EXPECT_EQ(env.ui().messages.size(), 1u);
}

// The program is ending: an exchange or download in flight ends within
// about a second, a later one fails at once, and none shows the network box.
TEST(TransportTest, CancelledTransfersEndPromptlyAndQuietly) {
  ProxyTestEnv env;
  const std::string target = env.home() + "/app.exe";
  testing::WriteFileForTest(target, "old");
  struct Case {
    const char* name;
    std::string answer;  // sent after the request is read; then nothing more
    std::function<bool(const std::string& origin)> fails;
  } kCases[] = {
      {"a post", "", [](const std::string& o) { return httpPost(o + "/x", {{"a", "1"}}).result == kHttpNetwork; }},
      {"a get", "", [](const std::string& o) { return httpGet(o + "/x").result == kHttpNetwork; }},
      {"a download half-way", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'p'),
       [&](const std::string& o) { return downloadFile(o + "/app.exe", target) == kDownloadFailed; }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testing::RawServer server([&](int s) {
      char buf[4096];
      if (read(s, buf, sizeof buf) > 0) (void)!write(s, c.answer.data(), c.answer.size());
      while (read(s, buf, sizeof buf) > 0) {
      }
    });
    std::thread ending([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      CancelTransfers();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(c.fails(server.origin()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "the stall limit is a minute";
    ending.join();
    // Once cancelled, nothing more is sent.
    env.proxy().On("/later", Raw(200, "x"));
    EXPECT_EQ(httpPost(env.proxy().origin() + "/later", {}).result, kHttpNetwork);
    EXPECT_EQ(env.proxy().Count("/later"), 0);
    ResumeTransfersForTesting();
  }
  EXPECT_TRUE(env.ui().messages.empty());
  EXPECT_EQ(testing::ReadFileForTest(target), "old");
}

// Reads one request (head and Content-Length body); false at the end.
bool ReadRequest(int c) {
  std::string in;
  char buf[4096];
  size_t head_end;
  while ((head_end = in.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = read(c, buf, sizeof buf);
    if (n <= 0) return false;
    in.append(buf, n);
  }
  size_t at = in.find("Content-Length: ");
  size_t length = at == std::string::npos ? 0 : std::stoul(in.substr(at + 16));
  while (in.size() < head_end + 4 + length) {
    ssize_t n = read(c, buf, sizeof buf);
    if (n <= 0) return false;
    in.append(buf, n);
  }
  return true;
}

TEST(TransportTest, KeptConnectionThatClosesWithoutAnAnswerIsNotAskedAgain) {
  ProxyTestEnv env;
  std::atomic<int> connections{0}, requests{0};
  // Answers a request; on the first connection then takes a second one and
  // closes without a byte, as a server that acted on it and then went away.
  testing::RawServer server([&](int c) {
    const bool first = ++connections == 1;
    if (!ReadRequest(c)) return;
    ++requests;
    const char ok[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    if (write(c, ok, sizeof ok - 1) < 0 || !first) return;
    if (ReadRequest(c)) ++requests;
  });
  const std::string url = server.origin() + "/PELIProxy/proxy/writeLog";
  EXPECT_EQ(httpPost(url, {{"a", "1"}}).result, kHttpOk);
  EXPECT_EQ(httpPost(url, {{"a", "2"}}).result, kHttpNetwork);
  EXPECT_EQ(requests, 2) << "the second request went out once, on the kept connection";
  ASSERT_EQ(env.ui().messages.size(), 1u);
  EXPECT_NE(env.ui().messages[0].find("網路連線發生錯誤!!\n[52]"), std::string::npos) << env.ui().messages[0];
  EXPECT_EQ(httpPost(url, {{"a", "3"}}).result, kHttpOk);
  EXPECT_EQ(requests, 3);
}

TEST(TransportTest, CapitalSchemeIsSentAsPlainHttp) {
  ProxyTestEnv env;  // a plain http server
  env.proxy().On("/x", Raw(200, "plain"));
  HttpReply r = httpPost("HTTPS://127.0.0.1:" + std::to_string(env.proxy().port()) + "/x", {});
  EXPECT_EQ(r.result, kHttpOk);
  EXPECT_EQ(r.body, "plain");
}

TEST(TransportTest, ServerCertificateIsVerified) {
  testing::ScopedTestHome pki_home;
  testing::TestPki pki = testing::MakeTestPki(pki_home.path() + "/pki");
  ProxyTestEnv env(&pki);
  env.proxy().On("/hello", Raw(200, "secure"));
  const std::string url = env.proxy().origin() + "/hello";
  const std::string localhost_url = "https://localhost:" + std::to_string(env.proxy().port()) + "/hello";

  {
    SCOPED_TRACE("unknown authority is refused with the box");
    testing::ScopedEnv no_bundle("QUIL_PROXY_CA", "");
    EXPECT_EQ(httpPost(url, {}).result, kHttpNetwork);
    ASSERT_EQ(env.ui().messages.size(), 1u);
    EXPECT_NE(env.ui().messages[0].find("127.0.0.1:" + std::to_string(env.proxy().port())), std::string::npos);
    EXPECT_EQ(httpGet(url).result, kHttpNetwork);
  }
  {
    SCOPED_TRACE("the operator's bundle is trusted");
    HttpReply r = httpPost(url, {});
    EXPECT_EQ(r.result, kHttpOk);
    EXPECT_EQ(r.body, "secure");
    EXPECT_EQ(httpGet(localhost_url).result, kHttpOk);
  }
  {
    SCOPED_TRACE("a bundle that cannot be read fails rather than trusting less");
    testing::ScopedEnv bad_bundle("QUIL_PROXY_CA", pki_home.path() + "/none.pem");
    EXPECT_EQ(httpPost(url, {}).result, kHttpNetwork);
  }
  {
    SCOPED_TRACE("the operator switch accepts any certificate");
    testing::ScopedEnv no_bundle("QUIL_PROXY_CA", "");
    testing::ScopedEnv insecure("QUIL_TLS_INSECURE", "1");
    EXPECT_EQ(httpPost(url, {}).result, kHttpOk);
  }
}

}  // namespace
}  // namespace quil::proxy
