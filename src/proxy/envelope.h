#pragma once
// The two envelopes around every proxy action. The public-key envelope
// seals each field with the proxy's RSA public key (PKCS#1 v1.5) and opens
// the reply blocks the proxy encrypted with its private key; the session
// envelope seals fields and reply with AES-128-CBC under the login's
// session key and a fixed IV. Application thread only.
#include <memory>
#include <optional>
#include <string>

#include "base/field_map.h"

namespace quil::proxy {

// The fixed initialisation vector of the session envelope.
inline constexpr char kSessionIv[] = "7302518946071835";

// The key text of the current login: "" at start, set by a successful
// login, emptied by a successful logout. Its first 16 bytes are the AES key.
const std::string& sessionKey();
void SetSessionKey(const std::string& key);

// The action URL (UTF-8): the operator's base URL followed by the name.
std::string proxyUrl(const std::string& action);

struct [[nodiscard]] SealedReply {
  int result = 1;    // 0, 1 or 59999 (see transport.h)
  std::string text;  // the opened reply up to its first zero byte, when 0
};

// Public-key envelope: empty fields are left out, a value too long for one
// RSA block is sent empty. The key PEM is read from the operator's
// configuration on every call; without a usable key nothing is sent and
// the result is 1.
SealedReply postRsa(const std::string& url, const FieldMap& fields);

// Session envelope: empty fields are sent as "name=". A key shorter than
// 16 bytes refuses the call with 1 and sends nothing.
SealedReply postAes(const std::string& key, const std::string& url, const FieldMap& fields);

// The proxy's public key, loaded from PEM text ("PUBLIC KEY").
class ProxyPublicKey {
 public:
  static std::unique_ptr<ProxyPublicKey> FromPem(const std::string& pem);
  ~ProxyPublicKey();
  // Bytes per RSA block (256 for the 2048-bit key).
  int BlockSize() const;
  // One PKCS#1 v1.5 encryption; nothing when the value does not fit.
  std::optional<std::string> Encrypt(const std::string& value) const;
  // Opens one block the holder of the private key encrypted (type 1
  // padding); nothing when it does not open.
  std::optional<std::string> Recover(const std::string& block) const;

 private:
  struct Impl;
  explicit ProxyPublicKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The sealing and opening steps on their own (for the envelopes above and
// for measuring them).
FieldMap SealFieldsRsa(const ProxyPublicKey& key, const FieldMap& fields);
std::optional<std::string> OpenRsaBody(const ProxyPublicKey& key, const std::string& body);
FieldMap SealFieldsAes(const std::string& key, const FieldMap& fields);
std::optional<std::string> OpenAesBody(const std::string& key, const std::string& body);

// The text up to its first zero byte.
std::string CutAtZero(const std::string& bytes);

}  // namespace quil::proxy
