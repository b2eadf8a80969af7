#pragma once
// The signing host's way to QUIL's confirmation screen: QUIL's
// confirmation socket (browsers/sign_confirmation.h); when no QUIL listens
// there, a QUIL is started (as it was last started, else the quil program
// beside this one or on PATH) and given time to come up.
#include <chrono>

#include "browsers/signer/page_signing.h"
#include "platform/socket_io.h"

namespace quil::signer {

// How long a QUIL started for a confirmation may take to listen.
constexpr std::chrono::seconds kQuilStartWait{45};

class QuilConfirmer : public Confirmer {
 public:
  explicit QuilConfirmer(std::chrono::milliseconds start_wait = kQuilStartWait) : start_wait_(start_wait) {}
  ~QuilConfirmer() override;

  Confirmation Ask(const ConfirmationRequest& request) override;
  void Report(const std::string& result) override;

 private:
  platform::SocketHandle Connect();
  void Close();

  std::chrono::milliseconds start_wait_;
  platform::SocketHandle socket_ = platform::kNoSocket;
};

}  // namespace quil::signer
