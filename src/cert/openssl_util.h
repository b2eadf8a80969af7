#pragma once
// OpenSSL helpers shared by the certificate engine's implementation files.
// Not part of the engine's interface: include from .cc files only.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <string>

namespace quil::cert_internal {

struct Free {
  void operator()(BIO* p) const { BIO_free_all(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_REQ* p) const { X509_REQ_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(PKCS12* p) const { PKCS12_free(p); }
  void operator()(PKCS7* p) const { PKCS7_free(p); }
  void operator()(STACK_OF(X509)* p) const { sk_X509_pop_free(p, X509_free); }
};
template <typename T>
using Ptr = std::unique_ptr<T, Free>;

Ptr<X509> ParseCertDer(const std::string& der);
Ptr<PKCS12> ParsePkcs12(const std::string& der);
// The bytes written into a memory BIO.
std::string BioBytes(BIO* bio);

// The protocol's base64Encode: standard alphabet, "=" padding, no breaks.
std::string Base64Encode(const std::string& bytes);
// The protocol's lenient base64Decode; nothing when it gives no bytes.
std::optional<std::string> Base64Decode(const std::string& text);

// The text of OpenSSL's last queued error (UTF-8), and clears the queue.
std::string LastOpenSslError();

}  // namespace quil::cert_internal
