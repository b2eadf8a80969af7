#pragma once
// Operations on the current user's certificate stores "MY", "CA" and
// "ROOT". Nothing is cached: each call opens what it needs. Issuer and
// serial texts are narrow, in the forms of the certificate record.
#include <cstdint>
#include <memory>
#include <string>

#include "base/result_codes.h"
#include "cert/cert_info.h"
#include "platform/cert_store.h"

namespace quil {

// A system store by name ("MY", "CA", "ROOT"); nullptr when it cannot be
// opened.
std::unique_ptr<platform::CertStore> openUserStore(const std::string& name);

struct [[nodiscard]] FindCertResult {
  int code = kFailed;  // 0, 53001 (no store) or 53005 (no match)
  platform::StoredCert cert;
};
// The first certificate of `store` matching issuerKey(issuer, serial).
FindCertResult findCertificate(platform::CertStore* store, const std::string& issuer, const std::string& serial);

// The record of the "MY" certificate with that serial and issuer: cn,
// certUserId, serial, notBefore, notAfter, issuer (the text given), ou and
// o (picked from the issuer text given). Codes 0, 54609, 54615.
CertInfoResult certInfoFromMyStore(const std::string& serial, const std::string& issuer);

// "EE", "CA" or "ROOT" from the certificate's basic constraints (the old
// 2.5.29.10 extension first, then 2.5.29.19); a self-issued authority is
// "ROOT"; no or an undecodable extension gives "EE".
std::string classifyCertificate(const std::string& cert_der);

// Installs a base64 PKCS#7 bundle: authorities into "CA" / "ROOT", the end
// certificate into "MY", bound to its key when a pending key record holds
// its public key (key provider, key context, friendly name = its CN).
// Adds never replace an equal or newer certificate. Codes: 0; 53103 base64
// undecodable or empty; 53105 the bytes are not a PKCS#7 message (nothing
// is installed then); 53101 a store could not be opened or written (what
// could be kept stays).
int installIssuedChain(const std::string& pkcs7_base64);

struct [[nodiscard]] PendingKey {
  int code = kFailed;  // 0, or 52901 when the record key cannot be opened
  bool found = false;
  std::string container;
  std::string provider;
  std::uint32_t provider_type = 0;
  std::uint32_t key_spec = 0;
};
// The pending key record whose PublicKey equals `blob` byte for byte.
PendingKey findPendingKey(const std::string& blob);

struct [[nodiscard]] CollectResult {
  int code = kFailed;  // 0, 54605, 54607, 54609, 54611, 54615
  std::unique_ptr<platform::CertStore> store;  // memory store: certificate first, then its chain
};
// The "MY" certificate with that issuer and serial, with its key properties,
// followed by the issuers its chain finds in the stores.
CollectResult collectCertWithChain(const std::string& issuer, const std::string& serial);

}  // namespace quil
