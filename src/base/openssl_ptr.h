#pragma once
// Owning pointers for OpenSSL objects, the DER helpers around them and
// OpenSSL's error text. For .cc files, and headers that hand such objects
// out. Header-only: the platform's OpenSSL-based implementation files use
// it too.
#ifdef _WIN32
// wincrypt.h, when it came first, names some OpenSSL types as macros.
#undef X509_NAME
#undef X509_EXTENSIONS
#undef PKCS7_ISSUER_AND_SERIAL
#undef PKCS7_SIGNER_INFO
#endif
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

namespace quil::ossl {

struct Free {
  void operator()(ASN1_OBJECT* p) const { ASN1_OBJECT_free(p); }
  void operator()(BASIC_CONSTRAINTS* p) const { BASIC_CONSTRAINTS_free(p); }
  void operator()(BIGNUM* p) const { BN_free(p); }
  void operator()(BIO* p) const { BIO_free_all(p); }
  void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(PKCS12* p) const { PKCS12_free(p); }
  void operator()(PKCS7* p) const { PKCS7_free(p); }
  void operator()(PKCS8_PRIV_KEY_INFO* p) const { PKCS8_PRIV_KEY_INFO_free(p); }
  void operator()(STACK_OF(X509)* p) const { sk_X509_pop_free(p, X509_free); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
  void operator()(X509_NAME* p) const { X509_NAME_free(p); }
  void operator()(X509_NAME_ENTRY* p) const { X509_NAME_ENTRY_free(p); }
  void operator()(X509_REQ* p) const { X509_REQ_free(p); }
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
};
template <typename T>
using Ptr = std::unique_ptr<T, Free>;

// The DER of an object through its i2d function; "" when it cannot be
// encoded.
template <typename I2d, typename T>
std::string ToDer(I2d i2d, const T* object) {
  unsigned char* out = nullptr;
  int n = object ? i2d(object, &out) : 0;
  if (n <= 0) return {};
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return der;
}

// An object from DER through its d2i function; null when it does not parse.
template <typename T>
Ptr<T> FromDer(T* (*d2i)(T**, const unsigned char**, long), const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return Ptr<T>(d2i(nullptr, &p, static_cast<long>(der.size())));
}

inline Ptr<X509> ParseCert(const std::string& der) { return FromDer(d2i_X509, der); }
inline std::string CertDer(X509* cert) { return ToDer(i2d_X509, cert); }
inline Ptr<PKCS12> ParsePkcs12(const std::string& der) { return FromDer(d2i_PKCS12, der); }

// What a PKCS#12 structure holds once `password` opens it; `opened` is
// false when it does not (each part may be missing even then).
struct Pkcs12Contents {
  bool opened = false;
  Ptr<EVP_PKEY> key;
  Ptr<X509> cert;
  Ptr<STACK_OF(X509)> ca;
};
inline Pkcs12Contents OpenPkcs12(PKCS12* p12, const std::string& password) {
  Pkcs12Contents c;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* ca = nullptr;
  c.opened = p12 && PKCS12_parse(p12, password.c_str(), &key, &cert, &ca) == 1;
  c.key.reset(key);
  c.cert.reset(cert);
  c.ca.reset(ca);
  return c;
}

// A PKCS#8 PrivateKeyInfo and back.
inline Ptr<EVP_PKEY> ParsePkcs8(const std::string& der) {
  auto info = FromDer(d2i_PKCS8_PRIV_KEY_INFO, der);
  return Ptr<EVP_PKEY>(info ? EVP_PKCS82PKEY(info.get()) : nullptr);
}
inline std::string Pkcs8Der(EVP_PKEY* key) {
  Ptr<PKCS8_PRIV_KEY_INFO> info(key ? EVP_PKEY2PKCS8(key) : nullptr);
  return ToDer(i2d_PKCS8_PRIV_KEY_INFO, info.get());
}

// A read-only memory BIO over `bytes` (which must outlive it).
inline Ptr<BIO> MemoryReader(const std::string& bytes) {
  return Ptr<BIO>(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}
// The bytes written into a memory BIO.
inline std::string MemoryBytes(BIO* bio) {
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

// The text of OpenSSL's oldest queued error on this thread, "" when there
// is none; the queue is emptied either way, so later calls start clean.
inline std::string TakeErrorText() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return {};
  char buf[256] = {};
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

}  // namespace quil::ossl
