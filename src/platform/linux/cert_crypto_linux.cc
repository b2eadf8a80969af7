// PKCS#7 bundles, chain building and PKCS#12 import and export for the
// Linux certificate store.
#include <openssl/sha.h>

#include "platform/cert_store.h"
#include "platform/linux/openssl_ptr.h"

namespace quil::platform {
namespace {

constexpr int kPfxIterations = 2048;
constexpr int kPfxMacIterations = 1;

std::vector<ossl::Ptr<X509>> StoreCertificates() {
  std::vector<ossl::Ptr<X509>> out;
  for (const char* name : {"MY", "CA", "ROOT"}) {
    auto store = OpenSystemStore(name);
    if (!store) continue;
    for (const auto& c : store->Certificates()) {
      if (auto x = ossl::ParseCert(c.der)) out.push_back(std::move(x));
    }
  }
  return out;
}

bool IssuedBy(X509* cert, X509* issuer) {
  if (X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(issuer)) != 0) return false;
  EVP_PKEY* key = X509_get0_pubkey(issuer);
  return key && X509_verify(cert, key) == 1;
}

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

std::optional<std::vector<std::string>> ReadPkcs7Certificates(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  ossl::Ptr<PKCS7> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(bytes.size())));
  if (!p7) return std::nullopt;
  STACK_OF(X509)* certs = nullptr;
  if (PKCS7_type_is_signed(p7.get())) {
    certs = p7->d.sign ? p7->d.sign->cert : nullptr;
  } else if (PKCS7_type_is_signedAndEnveloped(p7.get())) {
    certs = p7->d.signed_and_enveloped ? p7->d.signed_and_enveloped->cert : nullptr;
  } else {
    return std::nullopt;
  }
  std::vector<std::string> out;
  for (int i = 0; certs && i < sk_X509_num(certs); ++i) out.push_back(ossl::CertDer(sk_X509_value(certs, i)));
  return out;
}

std::optional<std::vector<std::string>> BuildCertificateChain(const std::string& der) {
  auto cert = ossl::ParseCert(der);
  if (!cert) return std::nullopt;
  auto pool = StoreCertificates();
  std::vector<std::string> chain{der};
  X509* current = cert.get();
  std::vector<X509*> used{current};
  while (chain.size() < 16 && !IssuedBy(current, current)) {
    X509* next = nullptr;
    for (auto& candidate : pool) {
      bool seen = false;
      for (X509* u : used) seen = seen || X509_cmp(u, candidate.get()) == 0;
      if (!seen && IssuedBy(current, candidate.get())) {
        next = candidate.get();
        break;
      }
    }
    if (!next) break;
    chain.push_back(ossl::CertDer(next));
    used.push_back(next);
    current = next;
  }
  return chain;
}

std::unique_ptr<CertStore> ImportPfx(const std::string& bytes, const std::string& password,
                                     bool /*allow_overwrite*/) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  ossl::Ptr<PKCS12> p12(d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size())));
  if (!p12) {
    ossl::SetLastError("not a PKCS#12 file");
    return nullptr;
  }
  EVP_PKEY* key_raw = nullptr;
  X509* cert_raw = nullptr;
  STACK_OF(X509)* ca_raw = nullptr;
  if (PKCS12_parse(p12.get(), password.c_str(), &key_raw, &cert_raw, &ca_raw) != 1) {
    ossl::SetLastError("the PKCS#12 file cannot be read with this password");
    return nullptr;
  }
  ossl::Ptr<EVP_PKEY> key(key_raw);
  ossl::Ptr<X509> cert(cert_raw);
  ossl::Ptr<STACK_OF(X509)> ca(ca_raw);

  auto store = OpenMemoryStore();
  if (cert) {
    StoredCert sc;
    sc.der = ossl::CertDer(cert.get());
    int len = 0;
    if (const unsigned char* alias = X509_alias_get0(cert.get(), &len))
      sc.friendly_name.assign(reinterpret_cast<const char*>(alias), static_cast<size_t>(len));
    if (key) {
      KeyContainer container;
      container.name = NewContainerName();
      container.private_key_der = ossl::Pkcs8Der(key.get());
      if (!CreateKeyContainer(container)) return nullptr;
      KeyProvInfo info;
      info.container = container.name;
      sc.key_prov = info;
    }
    store->AddNewer(sc);
  }
  for (int i = 0; ca && i < sk_X509_num(ca.get()); ++i) {
    StoredCert sc;
    sc.der = ossl::CertDer(sk_X509_value(ca.get(), i));
    store->AddNewer(sc);
  }
  ossl::ClearLastError();
  return store;
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
