// QUIL's confirmation screen for the signing host: what the page is shown,
// each way it ends, and what the host hears, over QUIL's real socket.
#include "app/host/sign_confirmations.h"

#include "app/host/page_ui.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "browsers/native_message.h"
#include "browsers/sign_confirmation.h"
#include "platform/local_socket.h"
#include "support/test_env.h"
#include "ui/ui.h"

namespace quil::host {
namespace {

using Clock = std::chrono::steady_clock;

ConfirmationRequest Question(const std::string& store = "pfx") {
  ConfirmationRequest q;
  q.origin = "https://trade.example.com.tw";
  q.text = "委託單\n買進 2330 1000 股";
  q.request_id = "4";
  q.cn = "A123456789-01";
  q.serial = "5C";
  q.not_after = "20270101000000";
  q.store = store;
  return q;
}

// A signing host's connection to QUIL.
struct Host {
  platform::SocketHandle socket = platform::ConnectLocalSocket(ConfirmationSocketPath());
  ~Host() { Close(); }
  void Close() {
    if (socket != platform::kNoSocket) platform::CloseConnection(socket);
    socket = platform::kNoSocket;
  }
  bool Ask(const std::string& message) { return SendFrame(socket, message, Clock::now() + std::chrono::seconds(5)); }
  // QUIL's answer; nothing when the connection ended without one.
  std::optional<std::string> Answer(std::chrono::seconds wait = std::chrono::seconds(10)) {
    std::string body;
    if (ReceiveFrame(socket, Clock::now() + wait, &body) != FrameStatus::kMessage) return std::nullopt;
    return body;
  }
};

// QUIL's side with a short limit, and the page's event stream.
class SignConfirmationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::SetUi(&page_ui_);
    ASSERT_TRUE(confirmations_.Start());
  }
  void TearDown() override {
    channel_.Close();
    app_.Stop();
    confirmations_.Stop();
    ui::SetUi(nullptr);
  }

  // The next event of `type` on the page's stream, within a few seconds.
  std::optional<UiEvent> NextEvent(const std::string& type) {
    for (auto until = Clock::now() + std::chrono::seconds(10); Clock::now() < until;) {
      for (auto& e : channel_.Next(&cursor_, false, std::chrono::milliseconds(100)))
        if (e.type == type) return e;
    }
    return std::nullopt;
  }

  testing::ScopedTestHome home_;
  EventChannel channel_;
  PageUi page_ui_{&channel_};
  AppThread app_;
  SignConfirmations confirmations_{&channel_, &app_, std::chrono::milliseconds(1500)};
  std::uint64_t cursor_ = 0;
};

TEST_F(SignConfirmationsTest, ShowsTheRequestAndHandsTheConfirmationToTheHost) {
  Host host;
  ASSERT_TRUE(host.Ask(ConfirmationRequestText(Question())));
  auto shown = NextEvent("signConfirm");
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->data["origin"], "https://trade.example.com.tw");
  EXPECT_EQ(shown->data["text"], "委託單\n買進 2330 1000 股");
  EXPECT_EQ(shown->data["cn"], "A123456789-01");
  EXPECT_EQ(shown->data["serial"], "5C");
  EXPECT_EQ(shown->data["notAfter"], "20270101000000");
  EXPECT_EQ(shown->data["needsPassword"], true);
  ASSERT_TRUE(channel_.Answer(shown->data["id"], {{"decision", "confirm"}, {"password", "pw123"}}));
  Confirmation c = ReadConfirmation(host.Answer().value_or(""));
  EXPECT_EQ(c.decision, Decision::kConfirmed);
  EXPECT_EQ(c.password, "pw123");

  // A signature that then failed is told in QUIL's window.
  ASSERT_TRUE(host.Ask(OutcomeText("wrong-password")));
  auto told = NextEvent("messageBox");
  ASSERT_TRUE(told);
  EXPECT_NE(told->data["text"].get<std::string>().find("憑證密碼錯誤"), std::string::npos);
}

TEST_F(SignConfirmationsTest, EachOtherEndReachesTheHost) {
  // 取消 on the screen.
  {
    Host host;
    ASSERT_TRUE(host.Ask(ConfirmationRequestText(Question("ieCertStore"))));
    auto shown = NextEvent("signConfirm");
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->data["needsPassword"], false);
    channel_.Answer(shown->data["id"], {{"decision", "cancel"}});
    EXPECT_EQ(ReadConfirmation(host.Answer().value_or("")).decision, Decision::kCancelled);
  }
  // Nobody answers in time: withdrawn from the page, the host told.
  {
    Host host;
    ASSERT_TRUE(host.Ask(ConfirmationRequestText(Question())));
    auto shown = NextEvent("signConfirm");
    ASSERT_TRUE(shown);
    auto withdrawn = NextEvent("withdraw");
    ASSERT_TRUE(withdrawn);
    EXPECT_EQ(withdrawn->data["id"], shown->data["id"]);
    EXPECT_EQ(ReadConfirmation(host.Answer().value_or("")).decision, Decision::kTimedOut);
    EXPECT_FALSE(channel_.Answer(shown->data["id"], {{"decision", "confirm"}})) << "too late to confirm";
  }
  // The host goes away: the screen goes too.
  {
    Host host;
    ASSERT_TRUE(host.Ask(ConfirmationRequestText(Question())));
    auto shown = NextEvent("signConfirm");
    ASSERT_TRUE(shown);
    host.Close();
    auto withdrawn = NextEvent("withdraw");
    ASSERT_TRUE(withdrawn);
    EXPECT_EQ(withdrawn->data["id"], shown->data["id"]);
  }
}

TEST_F(SignConfirmationsTest, OneRequestAtATimeAndOnlyWholeOnes) {
  Host first;
  ASSERT_TRUE(first.Ask(ConfirmationRequestText(Question())));
  auto shown = NextEvent("signConfirm");
  ASSERT_TRUE(shown);
  Host second;
  ASSERT_TRUE(second.Ask(ConfirmationRequestText(Question())));
  EXPECT_EQ(ReadConfirmation(second.Answer().value_or("")).decision, Decision::kBusy);
  channel_.Answer(shown->data["id"], {{"decision", "cancel"}});
  EXPECT_EQ(ReadConfirmation(first.Answer().value_or("")).decision, Decision::kCancelled);

  // Not a request: no screen, no answer.
  Host odd;
  ASSERT_TRUE(odd.Ask(R"({"type":"confirm","origin":"https://a"})"));
  EXPECT_EQ(odd.Answer(), std::nullopt);
}

}  // namespace
}  // namespace quil::host
