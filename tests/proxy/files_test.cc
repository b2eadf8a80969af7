#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "base/files.h"
#include "base/result_codes.h"
#include "fake_proxy.h"
#include "proxy/client_address.h"
#include "proxy/download.h"

namespace quil::proxy {
namespace {

namespace fs = std::filesystem;
using testing::ProxyTestEnv;
using testing::Raw;

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(DownloadTest, FiveMillionBytesWithProgress) {
  ProxyTestEnv env;
  std::string payload(5000000, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
  env.proxy().On("/client.exe", Raw(200, payload));
  const std::string target = env.home() + "/dl/client.exe";
  fs::create_directories(env.home() + "/dl");

  ASSERT_EQ(downloadFile(env.proxy().origin() + "/client.exe", target), 0);
  EXPECT_EQ(testing::ReadFileForTest(target), payload);
  EXPECT_EQ(Listing(env.home() + "/dl"), std::vector<std::string>{"client.exe"});

  const auto& shown = env.ui().progress;
  ASSERT_GE(shown.size(), 4u);
  EXPECT_EQ(shown.front().title, "檔案下載");
  EXPECT_EQ(shown.front().text, "開始下載檔案 ...");
  EXPECT_EQ(shown.front().step, 0);
  int last = 0;
  for (size_t i = 1; i + 2 < shown.size(); ++i) {
    SCOPED_TRACE(shown[i].text);
    EXPECT_GT(shown[i].step - last, 10);
    last = shown[i].step;
    EXPECT_EQ(shown[i].text.rfind("檔案下載中, 已下載 ", 0), 0u);
  }
  EXPECT_LE(shown.size(), 12u);
  EXPECT_EQ(shown[shown.size() - 2].step, 100);
  EXPECT_EQ(shown[shown.size() - 2].text, "檔案下載中, 已下載 4882 KB  ...");
  EXPECT_EQ(shown.back().text, "檔案下載完成 ...");
  EXPECT_EQ(env.ui().hides, 1);
}

TEST(DownloadTest, FailuresLeaveNoFile) {
  ProxyTestEnv env;
  env.proxy().On("/missing", Raw(404, "no"));
  env.proxy().On("/ok", Raw(200, "data"));
  fs::create_directories(env.home() + "/dl");
  testing::WriteFileForTest(env.home() + "/dl/old.exe", "old");
  int closed;
  {
    testing::FakeProxy gone;
    closed = gone.port();
  }
  struct Case {
    const char* name;
    std::string url;
    std::string target;
    int code;
  } kCases[] = {
      {"empty url", "", env.home() + "/dl/a.exe", 1},
      {"status 404", env.proxy().origin() + "/missing", env.home() + "/dl/a.exe", kDownloadFailed},
      {"unreachable", "http://127.0.0.1:" + std::to_string(closed) + "/x", env.home() + "/dl/a.exe", kDownloadFailed},
      {"folder missing", env.proxy().origin() + "/ok", env.home() + "/nowhere/a.exe", kDownloadFailed},
      {"target is a folder", env.proxy().origin() + "/ok", env.home() + "/dl", kDownloadFailed},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(downloadFile(c.url, c.target), c.code);
    EXPECT_EQ(Listing(env.home() + "/dl"), std::vector<std::string>{"old.exe"});
  }
  EXPECT_TRUE(env.ui().messages.empty());
}

TEST(DownloadTest, ConnectionDroppedMidwayKeepsTheOldFile) {
  ProxyTestEnv env;
  fs::create_directories(env.home() + "/dl");
  testing::WriteFileForTest(env.home() + "/dl/app.exe", "old");
  // A raw server that announces more than it sends.
  int code;
  {
    testing::RawServer server([](int c) {
      char buf[4096];
      (void)read(c, buf, sizeof buf);
      std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'p');
      (void)write(c, head.data(), head.size());
    });
    code = downloadFile(server.origin() + "/app.exe", env.home() + "/dl/app.exe");
  }
  EXPECT_EQ(code, kDownloadFailed);
  EXPECT_EQ(testing::ReadFileForTest(env.home() + "/dl/app.exe"), "old");
  EXPECT_EQ(Listing(env.home() + "/dl"), std::vector<std::string>{"app.exe"});
  EXPECT_EQ(env.ui().hides, 1);  // the progress window does not stay up
}

TEST(DownloadTest, WithoutContentLengthReportsKilobytesOnly) {
  ProxyTestEnv env;
  const std::string body(1200 * 1024, 'k');
  const std::string target = env.home() + "/f.bin";
  int code;
  {
    testing::RawServer server([&body](int c) {
      char buf[4096];
      (void)read(c, buf, sizeof buf);
      std::string reply = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
      (void)write(c, reply.data(), reply.size());
    });
    code = downloadFile(server.origin() + "/f.bin", target);
  }
  ASSERT_EQ(code, 0);
  EXPECT_EQ(fs::file_size(target), body.size());
  const auto& shown = env.ui().progress;
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[1].text, "檔案下載中, 已下載 512 KB  ...");
  EXPECT_EQ(shown[shown.size() - 2].text, "檔案下載中, 已下載 1200 KB  ...");
  EXPECT_EQ(shown.back().text, "檔案下載完成 ...");
}

// Every source answers an address of its own, so each case shows which
// source was taken.
TEST(ClientAddressTest, SourcesInOrder) {
  ProxyTestEnv env;
  auto& p = env.proxy();
  p.On("/bridge", Raw(200, "10.1.2.3\r\n"));
  p.On("/bridge500", Raw(500, "10.9.9.9"));
  p.On("/svc1", Raw(200, "<html>ip: 192.0.2.7</html>"));
  p.On("/svc1-404", Raw(404, "192.0.2.99"));
  p.On("/svc2", Raw(200, "198.51.100.4"));
  p.On("/noise", Raw(200, "none"));
  SetHostAddressForTesting("203.0.113.9");
  const std::string o = p.origin();
  struct Case {
    const char* name;
    std::string bridge;
    std::string services;
    std::string address;
  } kCases[] = {
      {"bridge answers", o + "/bridge", o + "/svc1," + o + "/svc2", "10.1.2.3"},
      {"bridge fails, first service", o + "/bridge500", o + "/svc1," + o + "/svc2", "192.0.2.7"},
      {"nothing usable, second service", o + "/bridge500", o + "/noise," + o + "/svc2", "198.51.100.4"},
      {"no web source answers, the host name", o + "/bridge500", o + "/svc1-404," + o + "/noise", "203.0.113.9"},
      {"no bridge page configured", "", o + "/svc2," + o + "/svc1", "198.51.100.4"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testing::ScopedEnv bridge("QUIL_BRIDGE_URL", c.bridge);
    testing::ScopedEnv services("QUIL_IP_SERVICES", c.services);
    EXPECT_EQ(findClientAddress(), c.address);
  }
  SetHostAddressForTesting("");
  EXPECT_TRUE(env.ui().messages.empty());
}

TEST(ClientAddressTest, FallsBackToTheHostNamesLastAddress) {
  ProxyTestEnv env;
  int closed;
  {
    testing::FakeProxy gone;
    closed = gone.port();
  }
  const std::string dead = "http://127.0.0.1:" + std::to_string(closed) + "/";
  testing::ScopedEnv bridge("QUIL_BRIDGE_URL", dead + "bridge");
  testing::ScopedEnv services("QUIL_IP_SERVICES", dead + "a," + dead + "b");

  std::string expected;
  char name[1024] = {};
  gethostname(name, sizeof name - 1);
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) == 0) {
    for (addrinfo* a = list; a; a = a->ai_next)
      expected = inet_ntoa(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
    freeaddrinfo(list);
  }
  EXPECT_EQ(findClientAddress(), expected);
  EXPECT_TRUE(env.ui().messages.empty());
}

TEST(WholeFileTest, WriteCreatesFoldersAndReplacesWhole) {
  testing::ScopedTestHome home;
  ui::ScopedScriptedUi ui;
  const std::string path = home.path() + "/x/y/z.p12";
  ASSERT_EQ(writeWholeFile(path, "first"), 0);
  EXPECT_EQ(readWholeFile(path), "first");
  ASSERT_EQ(writeWholeFile(path, "2nd"), 0);
  EXPECT_EQ(readWholeFile(path), "2nd");
  EXPECT_EQ(Listing(home.path() + "/x/y"), std::vector<std::string>{"z.p12"});
  EXPECT_TRUE(ui->messages.empty());

  struct Case {
    const char* name;
    std::string path;
    std::string bytes;
    int code;
    const char* box;
  } kCases[] = {
      {"empty buffer keeps the old file", path, "", kWriteFileWriteFailed, "存檔失敗, 請重新指定檔案儲存位置"},
      {"folder cannot be made", home.path() + "/x/y/z.p12/inner.p12", "b", kWriteFileOpenFailed,
       "開啟資料夾失敗, 請重新指定檔案儲存資料夾"},
      {"target is a folder", home.path() + "/x/y", "b", kWriteFileOpenFailed, "開啟資料夾失敗, 請重新指定檔案儲存資料夾"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ui->messages.clear();
    EXPECT_EQ(writeWholeFile(c.path, c.bytes), c.code);
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0], c.box);
  }
  EXPECT_EQ(readWholeFile(path), "2nd");
  EXPECT_EQ(Listing(home.path() + "/x/y"), std::vector<std::string>{"z.p12"});
  EXPECT_FALSE(readWholeFile(home.path() + "/missing").has_value());
  testing::WriteFileForTest(home.path() + "/empty", "");
  EXPECT_EQ(readWholeFile(home.path() + "/empty"), "");
}

// A writer killed in the middle leaves at most a temporary named after its
// process; the next write into the folder removes it, and no one else's.
TEST(WholeFileTest, TemporariesOfEndedWritersAreRemovedByTheNext) {
  testing::ScopedTestHome home;
  ui::ScopedScriptedUi ui;
  const std::string dir = home.path() + "/certs";
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);  // an ended process
  const std::string ended = ".quil-tmp-" + std::to_string(child) + "-0";
  const std::string running = ".quil-tmp-" + std::to_string(getppid()) + "-0";
  for (const std::string& f : {ended, running, std::string(".quil-tmp-unknown"), std::string("a.p12")})
    testing::WriteFileForTest(dir + "/" + f, "x");
  ASSERT_EQ(writeWholeFile(dir + "/b.p12", "new"), 0);
  std::vector<std::string> kept = {running, ".quil-tmp-unknown", "a.p12", "b.p12"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(Listing(dir), kept);
}

TEST(WholeFileTest, DeleteMatchingFiles) {
  testing::ScopedTestHome home;
  const std::string dir = home.path() + "/mero";
  for (const char* f : {"MERODepCert.1.htm", "MERODepCert.2.htm", "keep.txt", "..hidden"})
    testing::WriteFileForTest(dir + "/" + f, "x");
  fs::create_directories(dir + "/MERODepCert.sub.htm");

  deleteMatchingFiles(dir, "^MERODepCert\\..*\\.htm$");
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"..hidden", "MERODepCert.sub.htm", "keep.txt"}));
  deleteMatchingFiles(dir, "([");  // a broken pattern deletes nothing
  EXPECT_EQ(Listing(dir).size(), 3u);
  deleteMatchingFiles(dir, "");
  EXPECT_EQ(Listing(dir), std::vector<std::string>{"MERODepCert.sub.htm"});
}

}  // namespace
}  // namespace quil::proxy
