#include "browsers/signer/quil_confirmer.h"

#include <openssl/crypto.h>

#include <thread>

#include "browsers/native_message.h"
#include "browsers/sign_confirmation.h"
#include "browsers/signer_settings.h"
#include "platform/environment.h"
#include "platform/local_socket.h"
#include "platform/process.h"

namespace quil::signer {
namespace {

using Clock = std::chrono::steady_clock;

// Time for a request to reach QUIL and for an outcome to be taken.
constexpr std::chrono::seconds kHandOver{5};
// Beyond its own limit, QUIL may first finish the task it runs (its
// start-up check, a method of its page).
constexpr std::chrono::seconds kAnswerMargin{30};

bool StartQuil() {
  QuilProgram quil = RememberedQuilProgram();
  if (quil.program.empty() || !platform::HasProgram(quil.program)) {
    const std::string self = platform::ProgramPath();
    const std::string beside = self.substr(0, self.rfind('/') + 1) + "quil";
    quil.program = platform::HasProgram(beside) ? beside : "quil";
  }
  return platform::StartProcess(quil.program, quil.arguments);
}

}  // namespace

QuilConfirmer::~QuilConfirmer() { Close(); }

void QuilConfirmer::Close() {
  if (socket_ != platform::kNoSocket) platform::CloseConnection(socket_);
  socket_ = platform::kNoSocket;
}

platform::SocketHandle QuilConfirmer::Connect() {
  const std::string path = ConfirmationSocketPath();
  platform::SocketHandle s = platform::ConnectLocalSocket(path);
  if (s != platform::kNoSocket || !StartQuil()) return s;
  for (auto until = Clock::now() + start_wait_; Clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s = platform::ConnectLocalSocket(path);
    if (s != platform::kNoSocket) break;
  }
  return s;
}

Confirmation QuilConfirmer::Ask(const ConfirmationRequest& request) {
  Close();
  Confirmation none;  // kUnavailable
  socket_ = Connect();
  if (socket_ == platform::kNoSocket || !platform::PeerIsThisUser(socket_)) {
    Close();
    return none;
  }
  if (!SendFrame(socket_, ConfirmationRequestText(request), Clock::now() + kHandOver)) {
    Close();
    return none;
  }
  std::string answer;
  FrameStatus got = ReceiveFrame(socket_, Clock::now() + kConfirmationTime + kAnswerMargin, &answer);
  if (got != FrameStatus::kMessage) {
    Close();
    // Silence past every limit is a timeout; a QUIL that went away is none.
    if (got == FrameStatus::kFailed) none.decision = Decision::kTimedOut;
    return none;
  }
  Confirmation c = ReadConfirmation(answer);
  OPENSSL_cleanse(answer.data(), answer.size());
  if (c.decision != Decision::kConfirmed) Close();
  return c;
}

void QuilConfirmer::Report(const std::string& result) {
  if (socket_ != platform::kNoSocket) (void)SendFrame(socket_, OutcomeText(result), Clock::now() + kHandOver);
  Close();
}

}  // namespace quil::signer
