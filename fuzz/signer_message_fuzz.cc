// What a browser (or anything posing as one) can send the signing host:
// native messaging frames of any length and content, arriving in pieces,
// each read as a request; and what QUIL's confirmation socket reads from
// the host. Nothing here reads the hive or starts anything.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "browsers/native_message.h"
#include "browsers/sign_confirmation.h"
#include "browsers/signer/signer_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte sets how much each read delivers, as a pipe may.
  const size_t chunk = size > 0 ? 1 + data[0] % 64 : 1;
  size_t at = size > 0 ? 1 : 0;
  quil::FrameReader reader([&](char* out, size_t want) -> long {
    size_t n = std::min({want, chunk, size - at});
    std::memcpy(out, data + at, n);
    at += n;
    return static_cast<long>(n);
  });
  std::string body;
  while (reader.Next(&body) == quil::FrameStatus::kMessage) {
    quil::signer::SignerMessage m = quil::signer::ReadSignerMessage(body);
    if (m.refusal.empty() && m.type == "Sign") (void)quil::signer::SignTextProblem(m.text);
    (void)quil::signer::RefusedReply(m.id, m.refusal);
    (void)quil::ReadConfirmationRequest(body);
    (void)quil::ReadConfirmation(body);
    (void)quil::ReadOutcome(body);
  }
  return 0;
}
