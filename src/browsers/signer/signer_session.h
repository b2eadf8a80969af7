#pragma once
// The signing host's conversation with the browser: each request message
// answered in turn, Sign requests held to a rate, until the browser closes
// the port (the input ends).
#include <chrono>
#include <deque>
#include <functional>
#include <string>

#include "browsers/native_message.h"
#include "browsers/signer/page_signing.h"

namespace quil::signer {

// At most this many confirmations asked for in any minute; more requests
// are refused without a screen. Requests refused by the rules do not count.
constexpr int kSignRequestsPerMinute = 20;

class SignerSession {
 public:
  explicit SignerSession(Confirmer* confirmer) : confirmer_(confirmer) {}

  // The reply to one request message.
  std::string Answer(const std::string& message);

 private:
  bool TakeSignSlot();

  Confirmer* confirmer_;
  std::deque<std::chrono::steady_clock::time_point> recent_signs_;
};

// Reads requests from `reader` and writes each reply with `write` until the
// input ends. A message above the limit is answered with a refusal and
// ends the conversation (its bytes cannot be skipped safely), as does an
// input cut off inside a message. The exit status: 0 when the input ended
// between messages, 1 otherwise.
int RunSignerHost(FrameReader& reader, const std::function<bool(const std::string&)>& write,
                  SignerSession& session);

}  // namespace quil::signer
