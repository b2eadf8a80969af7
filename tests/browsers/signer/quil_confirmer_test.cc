// The signing host's way to QUIL's screen, against a stand-in for QUIL's
// confirmation socket: the question, the answer, the outcome, and a QUIL
// started when none listens.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include "browsers/native_message.h"
#include "browsers/sign_confirmation.h"
#include "browsers/signer/quil_confirmer.h"
#include "browsers/signer_settings.h"
#include "platform/environment.h"
#include "platform/local_socket.h"
#include "support/test_env.h"

namespace quil {
namespace {

using Clock = std::chrono::steady_clock;

ConfirmationRequest Question() {
  ConfirmationRequest q;
  q.origin = "https://trade.example.com.tw";
  q.text = "買進 2330";
  q.request_id = "7";
  q.cn = "A123456789-01";
  q.serial = "5C";
  q.not_after = "20270101000000";
  q.store = "pfx";
  return q;
}

// Takes one connection at QUIL's socket: reads the question, answers with
// `answer`, and gives back the question and the outcome that followed.
struct StandIn {
  std::string question;
  std::string outcome;
};
std::future<StandIn> AnswerOnce(const platform::LocalListener& listener, std::string answer) {
  return std::async(std::launch::async, [&listener, answer] {
    StandIn seen;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    platform::SocketHandle s = platform::kNoSocket;
    while (s == platform::kNoSocket && Clock::now() < deadline) {
      (void)platform::WaitReadable({listener.socket}, std::chrono::milliseconds(100));
      s = platform::AcceptConnection(listener.socket);
    }
    if (s == platform::kNoSocket) return seen;
    (void)ReceiveFrame(s, deadline, &seen.question);
    (void)SendFrame(s, answer, deadline);
    (void)ReceiveFrame(s, deadline, &seen.outcome);
    platform::CloseConnection(s);
    return seen;
  });
}

TEST(QuilConfirmer, AsksTheQuilThatListensAndReportsTheOutcome) {
  testing::ScopedTestHome home;
  platform::MakeFolders(platform::StateFolder());
  platform::LocalListener quil = platform::ListenLocalSocket(ConfirmationSocketPath());
  ASSERT_NE(quil.socket, platform::kNoSocket);
  auto seen = AnswerOnce(quil, R"({"decision":"confirm","password":"pw"})");
  signer::QuilConfirmer confirmer;
  Confirmation c = confirmer.Ask(Question());
  EXPECT_EQ(c.decision, Decision::kConfirmed);
  EXPECT_EQ(c.password, "pw");
  confirmer.Report("wrong-password");
  StandIn got = seen.get();
  auto question = ReadConfirmationRequest(got.question);
  ASSERT_TRUE(question);
  EXPECT_EQ(question->text, "買進 2330");
  EXPECT_EQ(question->origin, "https://trade.example.com.tw");
  EXPECT_EQ(ReadOutcome(got.outcome), "wrong-password");
  platform::StopListening(&quil);
}

TEST(QuilConfirmer, ReadsEachAnswerOfTheScreen) {
  testing::ScopedTestHome home;
  platform::MakeFolders(platform::StateFolder());
  platform::LocalListener quil = platform::ListenLocalSocket(ConfirmationSocketPath());
  struct Case {
    const char* answer;
    Decision decision;
  } cases[] = {
      {R"({"decision":"cancel"})", Decision::kCancelled},
      {R"({"decision":"timeout"})", Decision::kTimedOut},
      {R"({"decision":"busy"})", Decision::kBusy},
      {R"({"decision":"maybe"})", Decision::kUnavailable},
      {"garbage", Decision::kUnavailable},
  };
  for (const auto& c : cases) {
    auto seen = AnswerOnce(quil, c.answer);
    signer::QuilConfirmer confirmer;
    EXPECT_EQ(confirmer.Ask(Question()).decision, c.decision) << c.answer;
    (void)seen.get();
  }
  platform::StopListening(&quil);
}

TEST(QuilConfirmer, StartsQuilAsItWasStartedWhenNoneListens) {
  testing::ScopedTestHome home;
  platform::MakeFolders(platform::StateFolder());
  // The "QUIL" to start records its start; the test then begins listening
  // at QUIL's socket, as a starting QUIL would.
  const std::string started = home.path() + "/started";
  const std::string program = home.path() + "/fake-quil";
  testing::WriteFileForTest(program, "#!/bin/sh\necho \"$@\" > '" + started + "'\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  RememberQuilProgram(program, "--demo");

  platform::LocalListener quil;
  auto listening = std::async(std::launch::async, [&] {
    for (auto until = Clock::now() + std::chrono::seconds(10); Clock::now() < until;) {
      if (std::filesystem::exists(started)) {
        quil = platform::ListenLocalSocket(ConfirmationSocketPath());
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  });
  std::future<StandIn> seen;
  auto answering = std::async(std::launch::async, [&] {
    if (!listening.get()) return StandIn{};
    return AnswerOnce(quil, R"({"decision":"cancel"})").get();
  });
  signer::QuilConfirmer confirmer(std::chrono::seconds(10));
  EXPECT_EQ(confirmer.Ask(Question()).decision, Decision::kCancelled);
  EXPECT_TRUE(ReadConfirmationRequest(answering.get().question));
  EXPECT_EQ(testing::ReadFileForTest(started), "--demo\n");
  platform::StopListening(&quil);
}

TEST(QuilConfirmer, WithoutAnyQuilTheAnswerIsUnavailable) {
  testing::ScopedTestHome home;
  RememberQuilProgram(home.path() + "/no-such-quil", "");
  // Nothing called quil beside the test program or on PATH either.
  const std::string path = platform::GetEnv("PATH");
  setenv("PATH", (home.path() + "/empty").c_str(), 1);
  signer::QuilConfirmer confirmer(std::chrono::milliseconds(500));
  auto start = Clock::now();
  EXPECT_EQ(confirmer.Ask(Question()).decision, Decision::kUnavailable);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  setenv("PATH", path.c_str(), 1);
}

}  // namespace
}  // namespace quil
