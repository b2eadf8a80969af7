#pragma once
// The demo proxy's certificate authority: a root, issuing intermediates
// (one per issuer name in use), the TLS certificate of the service, and the
// checks on what customers send (requests, identity-proof signatures).
// Kept as PEM files in one folder, made on first use. Thread-safe.
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quil::devproxy {

struct IssuerName {
  std::string cn = "QUIL Demo Issuing CA";
  std::string o = "QUIL Demo CA";
  std::string c = "TW";
  bool operator==(const IssuerName& o2) const { return cn == o2.cn && o == o2.o && c == o2.c; }
};

struct SubjectName {
  std::string cn, ou, o, c;
};

// A request's public key (SubjectPublicKeyInfo), kept as parsed.
struct RequestKey;
// A certificate as OpenSSL holds it, kept so that its DER is not parsed again.
struct ParsedCert;

// What a certificate request holds, once its signature has checked out.
struct CheckedRequest {
  std::string cn;
  std::shared_ptr<const RequestKey> key;
};

struct IssuedCert {
  std::string der;
  std::string serial;   // upper-case hex, no leading zeros
  std::time_t not_before = 0;
  std::time_t not_after = 0;
  std::string subject;  // "CN=.., OU=.., O=.., C=.." with commas escaped
  std::string issuer;   // same form, unescaped
  std::string hash;     // SHA-1 of the DER, upper-case hex
  std::shared_ptr<const ParsedCert> parsed;  // the certificate `der` encodes
};

class CertAuthority {
 public:
  // Loads the CA from `folder` or makes it there. nullptr and *error when
  // the folder cannot be used.
  static std::unique_ptr<CertAuthority> LoadOrCreate(const std::string& folder, std::string* error);
  ~CertAuthority();

  std::string root_path() const;
  std::string issuing_path() const;  // the default issuing CA
  std::string tls_cert_path() const;
  std::string tls_key_path() const;
  // Root then every issuing CA, PEM.
  std::string bundle_pem() const;

  // Parses base64 DER PKCS#10, checks its self-signature and RSA >= 2048.
  std::optional<CheckedRequest> CheckRequest(const std::string& csr_base64, std::string* why) const;

  // Signs a certificate for `subject` with the request's key, valid from now
  // for `valid_days`, with a fresh random positive 64-bit serial for which
  // `serial_taken` answers false.
  std::optional<IssuedCert> Issue(const CheckedRequest& request, const SubjectName& subject,
                                  const IssuerName& issuer, int valid_days,
                                  const std::function<bool(const std::string&)>& serial_taken,
                                  std::string* why);
  // Re-signs `der` (same key, serial and subject) with a new end of validity.
  std::optional<IssuedCert> Reissue(const std::string& der, std::time_t not_after, std::string* why);
  // Builds a certificate from scratch for a key made here (mobile demo certs).
  std::optional<IssuedCert> IssueWithNewKey(const SubjectName& subject, int valid_days,
                                            const std::function<bool(const std::string&)>& serial_taken);

  // base64 of the answer to the client: a PKCS#7 bundle of root, issuing CA
  // and the certificate, or the certificate's DER alone. `parsed`, when the
  // caller has it, is `der` as issued, and spares parsing it.
  std::string AnswerText(const std::string& der, bool pkcs7_bundle, const ParsedCert* parsed = nullptr) const;

  // A PKCS#7 signed-data message (base64) whose content equals `text` and
  // whose signature is made by the key of `signer_der`.
  bool VerifySignedText(const std::string& sign_base64, const std::string& text,
                        const std::string& signer_der, std::string* why) const;

  class State;

 private:
  explicit CertAuthority(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace quil::devproxy
