#include "cert/signing.h"

#include "base/base64.h"
#include "base/openssl_ptr.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_stores.h"
#include "cert/pfx_file.h"
#include "cert/pfx_with_dialogs.h"

namespace quil {
namespace {

using ossl::Ptr;

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
  Pkcs7Result r;
  auto p12 = ossl::ParsePkcs12(pkcs12_der);
  ossl::Pkcs12Contents opened = ossl::OpenPkcs12(p12.get(), password);
  if (!opened.opened || !opened.key || !opened.cert) {
    r.code = kSignPfxParseFailed;
    r.error_text = ossl::TakeErrorText();
    return r;
  }
  Signed s = SignData(opened.cert.get(), opened.key.get(), text);
  r.error_text = ossl::TakeErrorText();
  switch (s.step) {
    case SignStep::kKeyMismatch: r.code = kSignPfxKeyMismatch; break;
    case SignStep::kDone: r.code = kOk; r.der = std::move(s.der); r.error_text.clear(); break;
    default: r.code = kSignPfxFailed; break;
  }
  return r;
}

SignResult signPkcs7WithStore(const std::string& text, const std::string& issuer, const std::string& serial) {
  SignResult r;
  auto my = openUserStore("MY");
  FindCertResult found = findCertificate(my.get(), issuer, serial);
  if (found.code != kOk) {
    r.code = found.code;
    return r;
  }
  auto container = platform::AcquireCertificatePrivateKey(found.cert);
  Ptr<EVP_PKEY> key = container ? ossl::ParsePkcs8(container->private_key_der) : nullptr;
  auto cert = ossl::ParseCert(found.cert.der);
  if (!key || !cert) {
    r.code = kSignStoreNoKey;
    r.error_text = container ? ossl::TakeErrorText() : platform::LastCertStoreErrorText();
    return r;
  }
  Signed s = SignData(cert.get(), key.get(), text);
  r.error_text = ossl::TakeErrorText();
  switch (s.step) {
    case SignStep::kDone: r.code = kOk; r.signature = base64Encode(s.der); r.error_text.clear(); break;
    case SignStep::kEncodeFailed: r.code = kSignStoreValueFailed; break;
    default: r.code = kSignStoreFailed; break;
  }
  return r;
}

SignResult signWithCurrentCertificate(const std::string& text, const std::string& path_in, const std::string& password,
                                      const std::string& issuer, const std::string& serial, bool interactive) {
  const std::string order = getSetting("cert.readOrder");
  SignResult r;
  r.path = path_in;
  size_t start = 0;
  for (;;) {
    size_t comma = order.find(',', start);
    std::string place = order.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (place == "pfx") {
      if (r.path.empty()) r.path = GetPathSetting("env.userPfxFilePath");
      PfxLoadResult opened = interactive ? loadPfxInteractive(r.path, password, issuer, serial, true)
                                         : loadPfxSilent(r.path, password, issuer, serial);
      r.path = opened.path;
      if (opened.code != kOk) {
        r.code = opened.code;
        r.error_text = opened.error_text;
        return r;
      }
      Pkcs7Result signed_message = signPkcs7WithPfx(opened.pkcs12, opened.password, text);
      r.code = signed_message.code;
      r.error_text = signed_message.error_text;
      if (r.code == kOk) {
        r.signature = base64Encode(signed_message.der);
        return r;
      }
    } else if (place == "ieCertStore") {
      SignResult stored = signPkcs7WithStore(text, issuer, serial);
      r.code = stored.code;
      r.error_text = stored.error_text;
      if (r.code == kOk) {
        r.signature = stored.signature;
        return r;
      }
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return r;
}

}  // namespace quil
