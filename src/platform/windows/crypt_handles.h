#pragma once
// Owning handles of CryptoAPI objects and the certificate context helpers
// the Windows store implementation shares. Windows implementation files
// only.
#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>

#include "platform/cert_store.h"

namespace quil::platform::win {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct StoreCloser {
  void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
using StoreHandle = std::unique_ptr<void, StoreCloser>;

struct ContextFreer {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

// An acquired key container (HCRYPTPROV), released on destruction.
class Provider {
 public:
  Provider() = default;
  ~Provider() {
    if (h_) CryptReleaseContext(h_, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  HCRYPTPROV* out() { return &h_; }
  HCRYPTPROV get() const { return h_; }
  // Hands the handle over (to a certificate's key context property).
  HCRYPTPROV release() {
    HCRYPTPROV h = h_;
    h_ = 0;
    return h;
  }

 private:
  HCRYPTPROV h_ = 0;
};

// A certificate context made from DER bytes; empty when they are not a
// certificate.
CertContext ContextFromDer(const std::string& der);
std::string DerOf(PCCERT_CONTEXT cert);

// Wraps a store handle (a memory store CryptoAPI made) as a CertStore.
std::unique_ptr<CertStore> AdoptStore(HCERTSTORE store);

// Sets CERT_KEY_PROV_INFO_PROP_ID on `cert` from `info`.
bool SetKeyProvInfo(PCCERT_CONTEXT cert, const KeyProvInfo& info);

// Records GetLastError()'s text (or `fallback` when it is 0) as the reason
// of the failure of the store call.
void SetLastErrorFromSystem(const std::string& fallback);

}  // namespace quil::platform::win
