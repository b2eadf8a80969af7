#include "cert/signing.h"

#include "base/result_codes.h"
#include "cert/cert_stores.h"
#include "cert/openssl_util.h"
#include "cert/pfx_file.h"
#include "proxy/settings.h"

namespace quil {
namespace {

using cert_internal::Ptr;

enum class SignStep { kKeyMismatch, kSignFailed, kEncodeFailed, kDone };

struct Signed {
  SignStep step;
  std::string der;
};

Signed SignData(X509* cert, EVP_PKEY* key, const std::string& text) {
  Ptr<PKCS7> p7(PKCS7_new());
  if (!p7 || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1 ||
      !PKCS7_add_signature(p7.get(), cert, key, EVP_sha1()))
    return {X509_check_private_key(cert, key) == 1 ? SignStep::kSignFailed : SignStep::kKeyMismatch, {}};
  if (X509_check_private_key(cert, key) != 1) return {SignStep::kKeyMismatch, {}};
  if (PKCS7_add_certificate(p7.get(), cert) != 1 || PKCS7_content_new(p7.get(), NID_pkcs7_data) != 1)
    return {SignStep::kSignFailed, {}};
  Ptr<BIO> bio(PKCS7_dataInit(p7.get(), nullptr));
  if (!bio) return {SignStep::kSignFailed, {}};
  if (!text.empty() && BIO_write(bio.get(), text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size()))
    return {SignStep::kSignFailed, {}};
  (void)BIO_flush(bio.get());
  if (PKCS7_dataFinal(p7.get(), bio.get()) != 1) return {SignStep::kSignFailed, {}};
  unsigned char* out = nullptr;
  int n = i2d_PKCS7(p7.get(), &out);
  if (n <= 0) return {SignStep::kEncodeFailed, {}};
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return {SignStep::kDone, std::move(der)};
}

}  // namespace

Pkcs7Result signPkcs7WithPfx(const std::string& pkcs12_der, const std::string& password, const std::string& text) {
  auto p12 = cert_internal::ParsePkcs12(pkcs12_der);
  EVP_PKEY* key_raw = nullptr;
  X509* cert_raw = nullptr;
  STACK_OF(X509)* ca = nullptr;
  bool parsed = p12 && PKCS12_parse(p12.get(), password.c_str(), &key_raw, &cert_raw, &ca) == 1;
  Ptr<EVP_PKEY> key(key_raw);
  Ptr<X509> cert(cert_raw);
  sk_X509_pop_free(ca, X509_free);
  if (!parsed || !key || !cert) {
    cert_internal::LastOpenSslError();
    return {kSignPfxParseFailed, {}};
  }
  Signed s = SignData(cert.get(), key.get(), text);
  cert_internal::LastOpenSslError();
  switch (s.step) {
    case SignStep::kKeyMismatch: return {kSignPfxKeyMismatch, {}};
    case SignStep::kDone: return {0, std::move(s.der)};
    default: return {kSignPfxFailed, {}};
  }
}

SignResult signPkcs7WithStore(const std::string& text, const std::string& issuer, const std::string& serial) {
  auto my = openUserStore("MY");
  FindCertResult found = findCertificate(my.get(), issuer, serial);
  if (found.code != 0) return {found.code, {}, {}};
  auto container = platform::AcquireCertificatePrivateKey(found.cert);
  if (!container) return {kSignStoreNoKey, {}, {}};
  const auto* p = reinterpret_cast<const unsigned char*>(container->private_key_der.data());
  PKCS8_PRIV_KEY_INFO* info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(container->private_key_der.size()));
  Ptr<EVP_PKEY> key(info ? EVP_PKCS82PKEY(info) : nullptr);
  PKCS8_PRIV_KEY_INFO_free(info);
  auto cert = cert_internal::ParseCertDer(found.cert.der);
  if (!key || !cert) return {kSignStoreNoKey, {}, {}};
  Signed s = SignData(cert.get(), key.get(), text);
  cert_internal::LastOpenSslError();
  switch (s.step) {
    case SignStep::kDone: return {0, cert_internal::Base64Encode(s.der), {}};
    case SignStep::kEncodeFailed: return {kSignStoreValueFailed, {}, {}};
    default: return {kSignStoreFailed, {}, {}};
  }
}

SignResult signWithCurrentCertificate(const std::string& text, const std::string& path_in, const std::string& password,
                                      const std::string& issuer, const std::string& serial, bool interactive) {
  std::string order = getSetting("cert.readOrder");
  std::string path = path_in;
  int code = kFailed;
  size_t start = 0;
  for (;;) {
    size_t comma = order.find(',', start);
    std::string place = order.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (place == "pfx") {
      if (path.empty()) path = getPathSetting("env.userPfxFilePath");
      PfxLoadResult opened = interactive ? loadPfxInteractive(path, password, issuer, serial, true)
                                         : loadPfxSilent(path, password, issuer, serial);
      path = opened.path;
      if (opened.code != 0) return {opened.code, {}, path};
      Pkcs7Result signed_message = signPkcs7WithPfx(opened.pkcs12, opened.password, text);
      code = signed_message.code;
      if (code == 0) return {0, cert_internal::Base64Encode(signed_message.der), path};
    } else if (place == "ieCertStore") {
      SignResult r = signPkcs7WithStore(text, issuer, serial);
      code = r.code;
      if (code == 0) return {0, r.signature, path};
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return {code, {}, path};
}

}  // namespace quil
