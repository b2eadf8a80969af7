// PKCS#7 bundles, chain building and PKCS#12 import and export for the
// Linux certificate store.
#include "platform/cert_store.h"
#include "platform/openssl_ptr.h"

namespace quil::platform {
namespace {

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
  quil::ossl::Pkcs12Contents opened = quil::ossl::OpenPkcs12(p12.get(), password);
  if (!opened.opened) {
    ossl::SetLastError("the PKCS#12 file cannot be read with this password");
    return nullptr;
  }
  const auto& key = opened.key;
  const auto& cert = opened.cert;
  const auto& ca = opened.ca;

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

}  // namespace quil::platform
