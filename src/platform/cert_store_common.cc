// What every certificate store implementation shares: the reason of the
// last failure, container names, and the PKCS#12 writer (keys reach it as
// PKCS#8 from the key containers).
#include <openssl/err.h>
#include <openssl/sha.h>

#include "platform/cert_store.h"
#include "platform/openssl_ptr.h"
#include "platform/random.h"

namespace quil::platform {
namespace {

constexpr int kPfxIterations = 2048;
constexpr int kPfxMacIterations = 1;

thread_local std::string last_error;

// Adds friendly name and local key id to a bag, as Windows and OpenSSL
// mark the certificate and key that belong together.
bool MarkBag(PKCS12_SAFEBAG* bag, const std::string& friendly_name, const unsigned char* key_id) {
  if (!bag) return false;
  if (!friendly_name.empty() &&
      !PKCS12_add_friendlyname_utf8(bag, friendly_name.c_str(), static_cast<int>(friendly_name.size())))
    return false;
  return PKCS12_add_localkeyid(bag, const_cast<unsigned char*>(key_id), SHA_DIGEST_LENGTH) == 1;
}

}  // namespace

namespace ossl {

void SetLastError(const std::string& fallback) {
  last_error = quil::ossl::TakeErrorText();
  if (last_error.empty()) last_error = fallback;
}

void SetLastErrorText(const std::string& text) { last_error = text; }

void ClearLastError() { last_error.clear(); }

}  // namespace ossl

std::string LastCertStoreErrorText() { return last_error; }

std::string NewContainerName() {
  unsigned char b[16] = {};
  if (!SecureRandomBytes(b, sizeof b)) return {};
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(kHex[b[i] >> 4]);
    out.push_back(kHex[b[i] & 15]);
  }
  return out;
}

std::optional<std::string> ExportPfx(CertStore& store, const std::string& password) {
  STACK_OF(PKCS12_SAFEBAG)* cert_bags = nullptr;
  STACK_OF(PKCS12_SAFEBAG)* key_bags = nullptr;
  STACK_OF(PKCS7)* safes = nullptr;
  ossl::SetLastError("the PKCS#12 file cannot be made");
  auto cleanup = [&] {
    sk_PKCS12_SAFEBAG_pop_free(cert_bags, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(key_bags, PKCS12_SAFEBAG_free);
    sk_PKCS7_pop_free(safes, PKCS7_free);
  };
  const char* pass = password.c_str();
  for (const auto& sc : store.Certificates()) {
    auto cert = ossl::ParseCert(sc.der);
    if (!cert) continue;
    PKCS12_SAFEBAG* bag = PKCS12_add_cert(&cert_bags, cert.get());
    if (!bag) return cleanup(), std::nullopt;
    if (!sc.key_prov) continue;
    auto container = AcquireCertificatePrivateKey(sc);
    auto key = container ? ossl::ParsePkcs8(container->private_key_der) : nullptr;
    if (!key) {
      ossl::SetLastError("the private key of \"" + sc.friendly_name + "\" cannot be read");
      return cleanup(), std::nullopt;
    }
    unsigned char key_id[SHA_DIGEST_LENGTH];
    unsigned int id_len = 0;
    if (!X509_digest(cert.get(), EVP_sha1(), key_id, &id_len)) return cleanup(), std::nullopt;
    PKCS12_SAFEBAG* key_bag = PKCS12_add_key(&key_bags, key.get(), 0, kPfxIterations,
                                             NID_pbe_WithSHA1And3_Key_TripleDES_CBC, pass);
    if (!MarkBag(bag, sc.friendly_name, key_id) || !MarkBag(key_bag, sc.friendly_name, key_id))
      return cleanup(), std::nullopt;
  }
  if (cert_bags && !PKCS12_add_safe(&safes, cert_bags, NID_pbe_WithSHA1And40BitRC2_CBC, kPfxIterations, pass))
    return cleanup(), std::nullopt;
  if (key_bags && !PKCS12_add_safe(&safes, key_bags, -1, 0, nullptr)) return cleanup(), std::nullopt;
  ossl::Ptr<PKCS12> p12(PKCS12_add_safes(safes, 0));
  if (!p12 ||
      !PKCS12_set_mac(p12.get(), pass, -1, nullptr, 0, kPfxMacIterations, EVP_sha1()))
    return cleanup(), std::nullopt;
  cleanup();
  unsigned char* out = nullptr;
  int n = i2d_PKCS12(p12.get(), &out);
  if (n <= 0) return std::nullopt;
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  ossl::ClearLastError();
  return der;
}

}  // namespace quil::platform
