// A page call on the bridge while other local clients hold connections
// open: none, or 100 that send a request head one byte every 100 ms plus
// 300 that sent half a head and went quiet. The figures should stay close
// to each other: the page's calls never wait for those clients.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/host/bridge_request.h"
#include "app/host/http_host.h"
#include "app/host/page_ui.h"

namespace {

using namespace quil::host;

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
  return fd;
}

// Clients that never finish a request while they live.
class Stallers {
 public:
  Stallers(int port, int slow, int idle) {
    for (int i = 0; i < idle; ++i) {
      int fd = Connect(port);
      (void)send(fd, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
      fds_.push_back(fd);
    }
    for (int i = 0; i < slow; ++i) slow_.push_back(Connect(port));
    thread_ = std::thread([this, port] {
      while (!done_) {
        for (int& fd : slow_) {
          if (send(fd, "x", 1, MSG_NOSIGNAL) != 1) {  // closed for taking too long: come back
            close(fd);
            fd = Connect(port);
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  ~Stallers() {
    done_ = true;
    thread_.join();
    for (int fd : fds_) close(fd);
    for (int fd : slow_) close(fd);
  }

 private:
  std::vector<int> fds_, slow_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

void BM_PageCall(benchmark::State& state) {
  const std::string token = MakeToken();
  EventChannel channel;
  PageUi ui(&channel);
  quil::ui::SetUi(&ui);
  AppThread app;
  HttpHost host(&channel, &app, token);
  host.Bind(0);
  host.Start();
  {
    Stallers others(host.port(), static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    httplib::Client page("127.0.0.1", host.port());
    page.set_read_timeout(30, 0);
    const std::string body = nlohmann::json{{"method", "getClientVersion"}, {"args", nlohmann::json::array()}}.dump();
    // The head a browser sends with the page's call (about 650 bytes).
    const httplib::Headers headers = {
        {"Cookie", std::string(kCookieName) + "=" + token},
        {"User-Agent", "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) HeadlessChrome/140.0.0.0 "
                       "Safari/537.36"},
        {"Accept", "*/*"},
        {"Accept-Language", "zh-TW"},
        {"Accept-Encoding", "gzip, deflate, br, zstd"},
        {"Origin", "http://127.0.0.1:" + std::to_string(host.port())},
        {"Referer", "http://127.0.0.1:" + std::to_string(host.port()) + "/"},
        {"Sec-Fetch-Site", "same-origin"},
        {"Sec-Fetch-Mode", "cors"},
        {"Sec-Fetch-Dest", "empty"},
        {"sec-ch-ua", "\"Chromium\";v=\"140\", \"Not=A?Brand\";v=\"24\""},
        {"sec-ch-ua-mobile", "?0"},
        {"sec-ch-ua-platform", "\"Linux\""},
    };
    for (auto _ : state) {
      auto res = page.Post("/api/call", headers, body, "application/json");
      if (!res || res->status != 200) state.SkipWithError("the page's call was not answered");
    }
  }
  channel.Close();
  app.Stop();
  host.Stop();
  quil::ui::SetUi(nullptr);
}
BENCHMARK(BM_PageCall)->ArgNames({"slow", "idle"})->Args({0, 0})->Args({100, 300})->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
