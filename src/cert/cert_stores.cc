#include "cert/cert_stores.h"

#include <openssl/x509v3.h>

#include "base/base64.h"
#include "base/openssl_ptr.h"
#include "base/result_codes.h"
#include "cert/cert_request.h"
#include "cert/dn_text.h"
#include "cert/public_key_blob.h"
#include "platform/registry.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

using ossl::Ptr;

// The kind the old basic-constraints extension (2.5.29.10) gives, "" when
// absent or silent. Its value: SEQUENCE { subjectType BIT STRING, ... }.
std::optional<std::string> OldBasicConstraintsKind(X509* cert) {
  Ptr<ASN1_OBJECT> oid(OBJ_txt2obj("2.5.29.10", 1));
  int index = X509_get_ext_by_OBJ(cert, oid.get(), -1);
  if (index < 0) return std::nullopt;
  const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(X509_get_ext(cert, index));
  const unsigned char* p = ASN1_STRING_get0_data(value);
  int n = ASN1_STRING_length(value);
  // 30 len 03 len unused-bits bits...
  if (n < 4 || p[0] != 0x30 || p[1] >= 0x80 || p[2] != 0x03 || p[3] >= 0x80 || 4 + p[3] > n) return std::string();
  int bit_bytes = p[3] - 1;  // content bytes after the unused-bits count
  if (bit_bytes != 1) return std::string();
  unsigned char bits = p[5];
  if (bits & 0x80) return std::string("CA");
  if (bits & 0x40) return std::string("EE");
  return std::string();
}

// False when the store cannot be opened or written; an equal or newer
// certificate already there is fine.
bool AddTo(const char* store_name, const platform::StoredCert& cert) {
  auto store = openUserStore(store_name);
  return store && store->AddNewer(cert) != platform::AddResult::kFailed;
}

// Binds an end certificate to the key whose pending record holds its
// public key. Each step needs the previous one.
void BindPendingKey(platform::StoredCert& cert) {
  PendingKey pending = findPendingKey(PublicKeyBlobFromCert(cert.der));
  if (pending.code != 0 || !pending.found) return;
  platform::KeyProvInfo info;
  info.container = pending.container;
  info.provider = pending.provider;
  info.provider_type = pending.provider_type;
  info.key_spec = pending.key_spec;
  cert.key_prov = info;
  if (!platform::AcquireKeyContainer(pending.container, pending.provider, pending.provider_type)) return;
  cert.key_context_spec = pending.key_spec;
  cert.friendly_name = platform::CertSubjectAttribute(cert.der, "2.5.4.3");
}

}  // namespace

std::unique_ptr<platform::CertStore> openUserStore(const std::string& name) {
  return platform::OpenSystemStore(name);
}

FindCertResult findCertificate(platform::CertStore* store, const std::string& issuer, const std::string& serial) {
  if (!store) return {kFindCertNoStore, {}};
  std::string key = issuerKey(issuer, serial);
  for (auto& cert : store->Certificates()) {
    if (certMatchesKey(key, cert.der)) return {0, std::move(cert)};
  }
  return {kFindCertNoMatch, {}};
}

CertInfoResult certInfoFromMyStore(const std::string& serial, const std::string& issuer) {
  auto my = openUserStore("MY");
  if (!my) return {kMyStoreFailed, {}};
  FindCertResult found = findCertificate(my.get(), issuer, serial);
  if (found.code != 0) return {kMyStoreNoMatch, {}};
  CertInfo context = certInfoFromContext(found.cert.der);
  CertInfo info;
  info["cn"] = context["cn"];
  info["certUserId"] = userIdFromCn(context["cn"], UserIdPattern::kStoreReader);
  info["serial"] = context["serial"];
  info["notBefore"] = context["notBefore"];
  info["notAfter"] = context["notAfter"];
  info["issuer"] = issuer;
  info["ou"] = pickDnAttribute(issuer, "OU");
  info["o"] = pickDnAttribute(issuer, "O");
  return {0, std::move(info)};
}

std::string classifyCertificate(const std::string& cert_der) {
  auto cert = ossl::ParseCert(cert_der);
  if (!cert) return "EE";
  std::string kind;
  if (auto old_kind = OldBasicConstraintsKind(cert.get())) {
    kind = *old_kind;
  } else if (X509_get_ext_by_NID(cert.get(), NID_basic_constraints, -1) >= 0) {
    Ptr<BASIC_CONSTRAINTS> bc(
        static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(cert.get(), NID_basic_constraints, nullptr, nullptr)));
    if (bc) kind = bc->ca ? "CA" : "EE";
  }
  if (kind == "CA" && X509_NAME_cmp(X509_get_issuer_name(cert.get()), X509_get_subject_name(cert.get())) == 0)
    kind = "ROOT";
  return kind.empty() ? "EE" : kind;
}

int installIssuedChain(const std::string& pkcs7_base64) {
  const std::string bytes = base64Decode(pkcs7_base64);
  if (bytes.empty()) return kInstallChainBase64Failed;
  auto certs = platform::ReadPkcs7Certificates(bytes);
  if (!certs) return kInstallChainCountFailed;
  // A certificate that no store keeps must not be reported as installed.
  bool all_kept = true;
  for (const auto& der : *certs) {
    if (!ossl::ParseCert(der)) continue;
    platform::StoredCert cert;
    cert.der = der;
    std::string kind = classifyCertificate(der);
    if (kind == "EE") {
      BindPendingKey(cert);
      all_kept &= AddTo("MY", cert);
    } else {
      all_kept &= AddTo(kind == "CA" ? "CA" : "ROOT", cert);
    }
  }
  return all_kept ? 0 : kInstallChainFailed;
}

PendingKey findPendingKey(const std::string& blob) {
  auto& hive = platform::CurrentUserHive();
  std::string root = kPendingKeyRoot;
  if (!hive.KeyExists(root)) {
    PendingKey unopened;
    unopened.code = kPendingKeyUnreadable;
    return unopened;
  }
  for (int i = 0;; ++i) {
    auto name = hive.EnumKey(root, i);
    if (!name) break;
    std::string path = root + *name;
    auto key = hive.QueryValue(path, "PublicKey");
    if (!key || key->type != platform::RegType::kBinary || key->data != blob) continue;
    PendingKey found;
    found.code = kOk;
    found.found = true;
    found.container = *name;
    if (auto v = hive.QueryValue(path, "ProviderName");
        v && (v->type == platform::RegType::kSz || v->type == platform::RegType::kExpandSz))
      found.provider = v->data;
    if (auto v = hive.QueryValue(path, "ProviderType"); v && v->type == platform::RegType::kDword)
      found.provider_type = v->dword;
    if (auto v = hive.QueryValue(path, "KeySpec"); v && v->type == platform::RegType::kDword)
      found.key_spec = v->dword;
    return found;
  }
  PendingKey none;
  none.code = kOk;
  return none;
}

CollectResult collectCertWithChain(const std::string& issuer, const std::string& serial) {
  auto my = openUserStore("MY");
  if (!my) return {kMyStoreFailed, nullptr};
  if (!openUserStore("CA")) return {kBackupCaStoreFailed, nullptr};
  if (!openUserStore("ROOT")) return {kBackupRootStoreFailed, nullptr};
  auto memory = platform::OpenMemoryStore();
  if (!memory) return {kBackupMemoryStoreFailed, nullptr};
  FindCertResult found = findCertificate(my.get(), issuer, serial);
  if (found.code != 0) return {kMyStoreNoMatch, nullptr};
  (void)memory->AddNewer(found.cert);
  if (auto chain = platform::BuildCertificateChain(found.cert.der)) {
    for (const auto& der : *chain) {
      platform::StoredCert element;
      element.der = der;
      (void)memory->AddNewer(element);
    }
  }
  return {0, std::move(memory)};
}

}  // namespace quil
