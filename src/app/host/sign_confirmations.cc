#include "app/host/sign_confirmations.h"

#include <openssl/crypto.h>

#include <future>

#include "browsers/native_message.h"
#include "browsers/sign_confirmation.h"
#include "browsers/sign_refusals.h"
#include "platform/environment.h"
#include "ui/ui.h"

namespace quil::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kHandOver{5};
// A confirmed signature takes the host a moment; its outcome comes then.
constexpr std::chrono::seconds kOutcomeWait{30};

nlohmann::json ScreenData(const ConfirmationRequest& r, std::chrono::milliseconds limit) {
  return {{"origin", r.origin},       {"text", r.text},
          {"cn", r.cn},               {"serial", r.serial},
          {"notAfter", r.not_after},  {"needsPassword", r.store == "pfx"},
          {"seconds", std::chrono::duration_cast<std::chrono::seconds>(limit).count()}};
}

// The screen's answer; timed out when it was withdrawn unanswered.
Confirmation FromScreen(const std::optional<nlohmann::json>& answer) {
  Confirmation c;
  c.decision = Decision::kTimedOut;
  if (!answer || !answer->is_object()) return c;
  const std::string decision = answer->value("decision", "");
  if (decision == "confirm") {
    c.decision = Decision::kConfirmed;
    auto it = answer->find("password");
    if (it != answer->end() && it->is_string()) c.password = it->get<std::string>();
  } else {
    c.decision = Decision::kCancelled;
  }
  return c;
}

// One request between its arrival and its answer: the connection, shared
// with the application thread's task, which may run after the request has
// been given up.
struct PendingRequest {
  PendingRequest(platform::SocketHandle s, Clock::time_point until) : socket(s), deadline(until) {}
  platform::SocketHandle socket;
  const Clock::time_point deadline;
  std::atomic<bool> given_up{false};
  std::mutex mutex;
  bool closed = false;

  // True once nobody waits for the screen any more: given up, or the host
  // has gone (closed its end) or sent what it should not have.
  bool Abandoned() {
    if (given_up) return true;
    std::lock_guard<std::mutex> lock(mutex);
    if (closed || platform::WaitReadable({socket}, std::chrono::milliseconds(0))[0]) given_up = true;
    return given_up;
  }
  void GiveUp() { given_up = true; }
  bool Closed() {
    std::lock_guard<std::mutex> lock(mutex);
    return closed || platform::WaitReadable({socket}, std::chrono::milliseconds(0))[0];
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!closed) platform::CloseConnection(socket);
    closed = true;
  }
};

void Forget(std::string* secret) {
  if (!secret->empty()) OPENSSL_cleanse(secret->data(), secret->size());
  secret->clear();
}

}  // namespace

bool SignConfirmations::Start() {
  if (!platform::MakeFolders(platform::StateFolder())) return false;
  listener_ = platform::ListenLocalSocket(ConfirmationSocketPath());
  if (listener_.socket == platform::kNoSocket) return false;
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void SignConfirmations::Stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard<std::mutex> lock(serving_mutex_);
    if (serving_.joinable()) serving_.join();
  }
  platform::StopListening(&listener_);
}

void SignConfirmations::Loop() {
  auto next_check = Clock::now();
  while (!stopping_) {
    if (platform::WaitReadable({listener_.socket}, std::chrono::milliseconds(250))[0]) {
      platform::SocketHandle s = platform::AcceptConnection(listener_.socket);
      if (s != platform::kNoSocket) {
        if (!platform::PeerIsThisUser(s)) {
          platform::CloseConnection(s);
        } else if (showing_.exchange(true)) {
          Confirmation busy;
          busy.decision = Decision::kBusy;
          std::string ignored;
          (void)ReceiveFrame(s, Clock::now() + kHandOver, &ignored);
          (void)SendFrame(s, ConfirmationText(busy), Clock::now() + kHandOver);
          platform::CloseConnection(s);
        } else {
          std::lock_guard<std::mutex> lock(serving_mutex_);
          if (serving_.joinable()) serving_.join();
          serving_ = std::thread([this, s] {
            Serve(s);
            showing_ = false;
          });
        }
      }
    }
    // A QUIL that took the socket over and has ended left the path empty:
    // take it back so the signing host still finds a QUIL.
    if (Clock::now() >= next_check) {
      next_check = Clock::now() + std::chrono::seconds(1);
      if (!platform::StillListening(listener_) && platform::PathVacant(listener_)) {
        platform::LocalListener again = platform::ListenLocalSocket(ConfirmationSocketPath());
        if (again.socket != platform::kNoSocket) {
          platform::StopListening(&listener_);
          listener_ = again;
        }
      }
    }
  }
}

void SignConfirmations::Serve(platform::SocketHandle s) {
  std::string message;
  std::optional<ConfirmationRequest> request;
  if (ReceiveFrame(s, Clock::now() + kHandOver, &message) == FrameStatus::kMessage)
    request = ReadConfirmationRequest(message);
  if (!request) {
    platform::CloseConnection(s);
    return;
  }
  auto pending = std::make_shared<PendingRequest>(s, Clock::now() + limit_);
  // Shown on the application thread once it is free (after the start-up
  // check or the method it runs); a task that runs too late shows nothing.
  auto shown = std::make_shared<std::promise<Confirmation>>();
  auto answer = shown->get_future();
  EventChannel* channel = channel_;
  const bool posted = app_->Post([channel, request = *request, pending, shown, limit = limit_] {
    Confirmation c;
    c.decision = Decision::kTimedOut;
    auto abandoned = [pending] { return pending->Abandoned(); };
    if (Clock::now() < pending->deadline && !abandoned())
      c = FromScreen(channel->AskUntil("signConfirm", ScreenData(request, limit), pending->deadline, abandoned));
    shown->set_value(c);
  });
  Confirmation c;
  c.decision = Decision::kTimedOut;
  for (bool waiting = posted; waiting;) {
    if (answer.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready) {
      try {
        c = answer.get();
      } catch (const std::future_error&) {  // dropped: the program is ending
        pending->GiveUp();
      }
      waiting = false;
    } else if (stopping_ || Clock::now() >= pending->deadline || pending->Abandoned()) {
      pending->GiveUp();
      waiting = false;
    }
  }
  if (!posted || stopping_) pending->GiveUp();
  // The screen is gone: the next request may show one, also while this one
  // still waits for its outcome.
  showing_ = false;
  if (pending->given_up && (stopping_ || pending->Closed())) {
    pending->Close();
    return;
  }
  // Answered, or timed out while the host still waits.
  const bool sent = SendFrame(s, ConfirmationText(c), Clock::now() + kHandOver);
  Forget(&c.password);
  std::string result;
  if (sent && c.decision == Decision::kConfirmed &&
      ReceiveFrame(s, Clock::now() + kOutcomeWait, &message) == FrameStatus::kMessage)
    result = ReadOutcome(message);
  pending->Close();
  const std::string text = result.empty() ? "" : refusal::OutcomeMessage(result);
  if (!text.empty()) app_->Post([text] { ui::CurrentUi().MessageBox(text, ui::Buttons::kOk); });
}

}  // namespace quil::host
