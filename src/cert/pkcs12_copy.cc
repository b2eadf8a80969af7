#include "cert/pkcs12_copy.h"

#include "base/openssl_ptr.h"

namespace quil {

Pkcs12Copy copyPkcs12(const std::string& pkcs12_der, const std::string& password) {
  auto p12 = ossl::ParsePkcs12(pkcs12_der);
  ossl::Pkcs12Contents opened = ossl::OpenPkcs12(p12.get(), password);
  ossl::TakeErrorText();
  if (!opened.opened || !opened.cert) return {kPkcs12ParseFailed, {}, {}};
  Pkcs12Copy copy{kPkcs12ParseFailed, ossl::ToDer(i2d_PKCS12, p12.get()), ossl::CertDer(opened.cert.get())};
  if (!copy.pkcs12_der.empty() && !copy.cert_der.empty()) copy.code = 0;
  return copy;
}

}  // namespace quil
