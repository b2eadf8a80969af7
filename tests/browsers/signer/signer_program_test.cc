// The quil-signer program as a browser runs it: answers on its standard
// output, and for any input it ends or answers, never hangs.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <thread>

#include "browsers/native_message.h"
#include "browsers/signer_settings.h"
#include "support/test_env.h"

namespace quil {
namespace {

constexpr char kProgram[] = QUIL_TEST_BINARY_DIR "/src/quil-signer";
constexpr auto kGuard = std::chrono::seconds(10);

// quil-signer started as Chromium starts it, with pipes for its input and
// output; killed if a test leaves it running.
class HostRun {
 public:
  explicit HostRun(std::vector<std::string> args = {"chrome-extension://pcaajijhfkhhhbofpnfeecceedmaglga/"}) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      std::vector<char*> argv{const_cast<char*>(kProgram)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kProgram, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~HostRun() {
    CloseInput();
    if (from_ >= 0) close(from_);
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  void Send(const std::string& bytes) { ASSERT_EQ(write(to_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void CloseInput() {
    if (to_ >= 0) close(to_);
    to_ = -1;
  }

  // The next answer, or nothing when the output ended or the guard ran out.
  std::optional<std::string> Answer() {
    auto deadline = std::chrono::steady_clock::now() + kGuard;
    FrameReader reader([&](char* buffer, size_t size) -> long {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{from_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return -1;
      return read(from_, buffer, size);
    });
    std::string body;
    if (reader.Next(&body) != FrameStatus::kMessage) return std::nullopt;
    return body;
  }

  // The exit status once it ended, within the guard.
  std::optional<int> Exit() {
    for (auto until = std::chrono::steady_clock::now() + kGuard; std::chrono::steady_clock::now() < until;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  std::optional<int> status_;
};

std::string Head(std::uint32_t length) {
  std::string h(4, '\0');
  std::memcpy(h.data(), &length, 4);
  return h;
}

TEST(SignerProgram, AnswersEachRequestInTurnAndEndsWithItsInput) {
  testing::ScopedTestHome home;
  RememberSigningOrigins({{"depCert.targetUrl", "https://trade.example.com.tw/"}}, "https://proxy.example.com.tw/");
  HostRun host;
  host.Send(EncodeFrame(R"({"type":"GetVersion","id":"1"})"));
  EXPECT_EQ(host.Answer(), R"({"id":"1","type":"version","version":"1,0,0,2"})");
  host.Send(EncodeFrame("{not json") + EncodeFrame(R"({"type":"GetOrigins","id":"2"})"));
  EXPECT_EQ(host.Answer(), R"({"id":"","reason":"invalid-message","type":"refused"})");
  EXPECT_EQ(host.Answer(),
            R"({"id":"2","origins":["https://proxy.example.com.tw","https://trade.example.com.tw"],"type":"origins"})");
  // Off the list: refused at once, no QUIL is asked or started.
  host.Send(EncodeFrame(R"({"type":"Sign","id":"3","text":"buy","origin":"https://evil.example.com"})"));
  EXPECT_EQ(host.Answer(), R"({"id":"3","reason":"origin-not-allowed","type":"refused"})");
  host.Send(EncodeFrame(""));
  EXPECT_EQ(host.Answer(), R"({"id":"","reason":"invalid-message","type":"refused"})");
  host.CloseInput();
  EXPECT_EQ(host.Exit(), 0);
}

TEST(SignerProgram, EndsOnInputItCannotReadOn) {
  testing::ScopedTestHome home;
  struct Case {
    const char* name;
    std::string input;
    std::optional<std::string> answer;
  } cases[] = {
      {"a length above the limit", Head(kMaxNativeMessageBytes + 1) + "{}",
       R"({"id":"","reason":"message-too-large","type":"refused"})"},
      {"a cut length", Head(7).substr(0, 2), std::nullopt},
      {"a cut body", Head(40) + R"({"type":"GetVer)", std::nullopt},
  };
  for (const auto& c : cases) {
    HostRun host;
    host.Send(c.input);
    host.CloseInput();
    EXPECT_EQ(host.Answer(), c.answer) << c.name;
    EXPECT_EQ(host.Exit(), 1) << c.name;
  }
}

TEST(SignerProgram, ReportsItsVersionAsTheComponentsServer) {
  std::string out;
  EXPECT_EQ(testing::RunCommand(std::string(kProgram) + " GetVersion", &out), 0);
  EXPECT_EQ(out, "1,0,0,2\n");
}

}  // namespace
}  // namespace quil
