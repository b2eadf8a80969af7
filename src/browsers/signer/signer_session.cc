#include "browsers/signer/signer_session.h"

#include <ctime>

#include "browsers/sign_refusals.h"
#include "browsers/signer/signer_messages.h"
#include "browsers/signer/signer_version.h"
#include "browsers/signer_settings.h"

namespace quil::signer {

bool SignerSession::TakeSignSlot() {
  const auto now = std::chrono::steady_clock::now();
  while (!recent_signs_.empty() && now - recent_signs_.front() >= std::chrono::minutes(1)) recent_signs_.pop_front();
  if (recent_signs_.size() >= static_cast<size_t>(kSignRequestsPerMinute)) return false;
  recent_signs_.push_back(now);
  return true;
}

std::string SignerSession::Answer(const std::string& body) {
  SignerMessage m = ReadSignerMessage(body);
  if (!m.refusal.empty()) return RefusedReply(m.id, m.refusal);
  if (m.type == "GetVersion") return VersionReply(m.id, kSignerVersion);
  if (m.type == "GetOrigins") return OriginsReply(m.id, SigningOrigins());
  PageSignature s =
      SignForPage(m.origin, m.text, m.id, *confirmer_, std::time(nullptr), [this] { return TakeSignSlot(); });
  if (!s.refusal.empty()) return RefusedReply(m.id, s.refusal);
  return SignedReply(m.id, s.signature, s.cn, s.serial);
}

int RunSignerHost(FrameReader& reader, const std::function<bool(const std::string&)>& write,
                  SignerSession& session) {
  std::string message;
  for (;;) {
    switch (reader.Next(&message)) {
      case FrameStatus::kMessage:
        if (!write(session.Answer(message))) return 1;
        break;
      case FrameStatus::kEnded:
        return 0;
      case FrameStatus::kTooLarge:
        (void)write(RefusedReply("", refusal::kMessageTooLarge));
        return 1;
      case FrameStatus::kTruncated:
      case FrameStatus::kFailed:
        return 1;
    }
  }
}

}  // namespace quil::signer
