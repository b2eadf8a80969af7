#include "cert/pkcs12_copy.h"

#include "cert/openssl_util.h"

namespace quil {

using cert_internal::Ptr;

Pkcs12Copy copyPkcs12(const std::string& pkcs12_der, const std::string& password) {
  auto p12 = cert_internal::ParsePkcs12(pkcs12_der);
  EVP_PKEY* key_raw = nullptr;
  X509* cert_raw = nullptr;
  STACK_OF(X509)* ca_raw = nullptr;
  bool parsed = p12 && PKCS12_parse(p12.get(), password.c_str(), &key_raw, &cert_raw, &ca_raw) == 1;
  Ptr<EVP_PKEY> key(key_raw);
  Ptr<X509> cert(cert_raw);
  Ptr<STACK_OF(X509)> ca(ca_raw);
  cert_internal::LastOpenSslError();
  if (!parsed || !cert) return {kPkcs12ParseFailed, {}, {}};
  unsigned char* p12_out = nullptr;
  int p12_len = i2d_PKCS12(p12.get(), &p12_out);
  unsigned char* cert_out = nullptr;
  int cert_len = i2d_X509(cert.get(), &cert_out);
  Pkcs12Copy copy;
  if (p12_len > 0 && cert_len > 0) {
    copy.code = 0;
    copy.pkcs12_der.assign(reinterpret_cast<char*>(p12_out), static_cast<size_t>(p12_len));
    copy.cert_der.assign(reinterpret_cast<char*>(cert_out), static_cast<size_t>(cert_len));
  } else {
    copy.code = kPkcs12ParseFailed;
  }
  OPENSSL_free(p12_out);
  OPENSSL_free(cert_out);
  return copy;
}

}  // namespace quil
