#include "cert/pkcs12_copy.h"

#include "base/openssl_ptr.h"

namespace quil {

Pkcs12Copy copyPkcs12(const std::string& pkcs12_der, const std::string& password) {
  auto p12 = ossl::ParsePkcs12(pkcs12_der);
  EVP_PKEY* key_raw = nullptr;
  X509* cert_raw = nullptr;
  STACK_OF(X509)* ca_raw = nullptr;
  bool parsed = p12 && PKCS12_parse(p12.get(), password.c_str(), &key_raw, &cert_raw, &ca_raw) == 1;
  ossl::Ptr<EVP_PKEY> key(key_raw);
  ossl::Ptr<X509> cert(cert_raw);
  ossl::Ptr<STACK_OF(X509)> ca(ca_raw);
  ossl::TakeErrorText();
  if (!parsed || !cert) return {kPkcs12ParseFailed, {}, {}};
  Pkcs12Copy copy{kPkcs12ParseFailed, ossl::ToDer(i2d_PKCS12, p12.get()), ossl::CertDer(cert.get())};
  if (!copy.pkcs12_der.empty() && !copy.cert_der.empty()) copy.code = 0;
  return copy;
}

}  // namespace quil
