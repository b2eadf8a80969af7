#pragma once
// The orders of the demo trading page, signed by the customer through the
// security component: what a broker checks before it takes one. The
// signature must be a PKCS#7 signed-data message carrying the order text
// itself, made by a certificate of the demo authority that is the live
// certificate of the customer who is logged in (the client certificate
// of the visit).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <openssl/x509.h>

namespace quil::devproxy {

// The DER of the live certificate of a common name; nothing when it has
// none (never issued, revoked, replaced, expired).
using LiveCertificateLookup = std::function<std::optional<std::string>(const std::string& cn)>;

struct OrderCheck {
  bool accepted = false;
  std::string cn;      // the signer's common name
  std::string serial;  // the signer's serial, upper-case hex without leading zeros
  std::string reason;  // why it was refused
};

// Checks `signature_base64` over `order` for the visitor whose client
// certificate is `visitor`; `authorities_pem` holds the demo authority's
// certificates.
OrderCheck CheckSignedOrder(const std::string& order, const std::string& signature_base64, X509* visitor,
                            const std::string& authorities_pem, const LiveCertificateLookup& live);

// Helpers shared with the trading page.
std::string NameText(const X509_NAME* name);  // one line, "CN = ..., O = ..."
std::string CommonName(X509* cert);
std::string SerialText(X509* cert);           // upper-case hex, no leading zeros
// "" when `cert` chains to one of the authorities (with `extra` as
// intermediates); else the reason.
std::string CheckIssued(X509* cert, STACK_OF(X509)* extra, const std::string& authorities_pem);

}  // namespace quil::devproxy
