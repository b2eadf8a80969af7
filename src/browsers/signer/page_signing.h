#pragma once
// One page's request for a signature, as the signing host handles it: the
// operator's origin rule, the text rule, the certificate the customer holds
// (browsers/signer_settings.h SigningCertificate), QUIL's confirmation,
// then the PKCS#7 signature of the text's UTF-8 bytes with that
// certificate, from its PKCS#12 file with the password typed on QUIL's
// screen or from the "MY" store. Nothing is signed without a confirmation.
#include <ctime>
#include <functional>
#include <string>

#include "browsers/sign_confirmation.h"

namespace quil::signer {

// Who confirms: QUIL's screen (quil_confirmer.h), or a stand-in in tests.
class Confirmer {
 public:
  virtual ~Confirmer() = default;
  virtual Confirmation Ask(const ConfirmationRequest& request) = 0;
  // After kConfirmed: how the signature ended, "signed" or the refusal.
  virtual void Report(const std::string& result) = 0;
};

struct PageSignature {
  std::string refusal;    // empty when signed
  std::string signature;  // base64 of the DER message, one line
  std::string cn;
  std::string serial;
};

// Codes of browsers/sign_refusals.h. `now` decides expiry. `may_ask`, when
// given, is asked once a request has passed every rule, before the screen:
// false refuses it as too frequent.
PageSignature SignForPage(const std::string& origin, const std::string& text, const std::string& request_id,
                          Confirmer& confirmer, std::time_t now,
                          const std::function<bool()>& may_ask = nullptr);

}  // namespace quil::signer
