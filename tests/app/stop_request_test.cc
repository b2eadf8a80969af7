// quil ends within two seconds of SIGTERM whatever it is doing: here its
// start-up check waits for a proxy that never answers, and a call of the
// page waits behind it.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/test_env.h"

extern char** environ;

namespace quil {
namespace {

using Clock = std::chrono::steady_clock;

// A proxy that takes every request and answers none until it is let go.
class SilentProxy {
 public:
  SilentProxy() {
    server_.Post(R"(/PELIProxy/proxy/.*)", [this](const httplib::Request&, httplib::Response& res) {
      std::unique_lock<std::mutex> lock(mu_);
      ++received_;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::seconds(60), [this] { return released_; });
      res.status = 503;
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~SilentProxy() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      released_ = true;
    }
    changed_.notify_all();
    server_.stop();
    thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/PELIProxy/proxy/"; }
  bool WaitForRequest(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, limit, [this] { return received_ > 0; });
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable changed_;
  int received_ = 0;
  bool released_ = false;
};

// The public half of a test key for the proxy's envelope, as PEM.
std::string PublicKeyPem() {
  const std::string private_pem = testing::TestKeyPem("fake-proxy");
  BIO* in = BIO_new_mem_buf(private_pem.data(), static_cast<int>(private_pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
  BIO_free(in);
  BIO* out = BIO_new(BIO_s_mem());
  PEM_write_bio_PUBKEY(out, key);
  char* data = nullptr;
  long n = BIO_get_mem_data(out, &data);
  std::string pem(data, static_cast<size_t>(n));
  BIO_free(out);
  EVP_PKEY_free(key);
  return pem;
}

std::string ReadLine(int fd, std::chrono::seconds limit) {
  std::string line;
  for (auto until = Clock::now() + limit; Clock::now() < until;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1 || c == '\n') break;
    line.push_back(c);
  }
  return line;
}

TEST(StopRequestTest, SigtermDuringASlowProxyCallEndsQuilWithinTwoSeconds) {
  testing::ScopedTestHome home;
  SilentProxy proxy;
  const std::string key = home.path() + "/proxy.pem";
  testing::WriteFileForTest(key, PublicKeyPem());
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("QUIL_", 0) != 0) env_text.push_back(*e);
  env_text.push_back("QUIL_PROXY_URL=" + proxy.url());
  env_text.push_back("QUIL_PROXY_PUBKEY=" + key);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::string program = std::string(QUIL_TEST_BINARY_DIR) + "/src/quil";
  std::vector<char*> argv = {program.data(), const_cast<char*>("--no-browser"), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  const std::string address = ReadLine(out[0], std::chrono::seconds(30));
  close(out[0]);
  ASSERT_NE(address.find("token="), std::string::npos) << address;

  // The start-up check's call is at the proxy; a call of the page waits behind it.
  ASSERT_TRUE(proxy.WaitForRequest(std::chrono::seconds(30)));
  const int port = std::stoi(address.substr(address.rfind(':') + 1));
  const std::string token = address.substr(address.find("token=") + 6);
  std::thread page([&] {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30, 0);
    (void)c.Post("/api/call", {{"X-QUIL-Token", token}},
                 nlohmann::json{{"method", "getClientVersion"}, {"args", nlohmann::json::array()}}.dump(),
                 "application/json");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  kill(pid, SIGTERM);
  const auto sent = Clock::now();
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() - sent < std::chrono::seconds(30))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto took = Clock::now() - sent;
  if (ended != pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  page.join();
  ASSERT_EQ(ended, pid) << "quil did not end";
  EXPECT_LT(took, std::chrono::seconds(2))
      << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace quil
