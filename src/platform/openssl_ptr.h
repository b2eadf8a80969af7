#pragma once
// Owning pointers for the OpenSSL objects of the certificate store
// implementations. Platform implementation files only.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace quil::platform::ossl {

struct Free {
  void operator()(BIO* p) const { BIO_free_all(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(PKCS12* p) const { PKCS12_free(p); }
  void operator()(PKCS7* p) const { PKCS7_free(p); }
  void operator()(STACK_OF(X509)* p) const { sk_X509_pop_free(p, X509_free); }
  void operator()(PKCS8_PRIV_KEY_INFO* p) const { PKCS8_PRIV_KEY_INFO_free(p); }
};
template <typename T>
using Ptr = std::unique_ptr<T, Free>;

inline Ptr<X509> ParseCert(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return Ptr<X509>(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

inline std::string CertDer(X509* cert) {
  unsigned char* out = nullptr;
  int n = i2d_X509(cert, &out);
  if (n <= 0) return {};
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return der;
}

inline Ptr<EVP_PKEY> ParsePkcs8(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  Ptr<PKCS8_PRIV_KEY_INFO> info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())));
  if (!info) return nullptr;
  return Ptr<EVP_PKEY>(EVP_PKCS82PKEY(info.get()));
}

inline std::string Pkcs8Der(EVP_PKEY* key) {
  Ptr<PKCS8_PRIV_KEY_INFO> info(EVP_PKEY2PKCS8(key));
  if (!info) return {};
  unsigned char* out = nullptr;
  int n = i2d_PKCS8_PRIV_KEY_INFO(info.get(), &out);
  if (n <= 0) return {};
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return der;
}

// Records the reason of a failure for LastCertStoreErrorText(): OpenSSL's
// queued error when there is one, else `fallback`. Clears the queue.
void SetLastError(const std::string& fallback);
// Records `text` as the reason of the failure.
void SetLastErrorText(const std::string& text);
// Forgets the last reason (the call succeeded).
void ClearLastError();

}  // namespace quil::platform::ossl
