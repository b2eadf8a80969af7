#include "cert/pfx_file.h"

#include <openssl/pem.h>

#include <algorithm>

#include "base/base64.h"
#include "base/failure_log.h"
#include "base/files.h"
#include "base/openssl_ptr.h"
#include "base/regex_text.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/dn_text.h"

namespace quil {
namespace {

using ossl::Ptr;

constexpr int kPfxIterations = 2048;
constexpr int kPfxMacIterations = 1;

bool MarksEndEntity(X509* cert) {
  Ptr<BASIC_CONSTRAINTS> bc(
      static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(cert, NID_basic_constraints, nullptr, nullptr)));
  return bc && !bc->ca;
}

struct IssuedCerts {
  Ptr<X509> user;
  Ptr<STACK_OF(X509)> chain;
};

// The user certificate and chain of an issued certificate text.
std::optional<IssuedCerts> ReadIssued(const std::string& cert_text, EVP_PKEY* key) {
  const std::string bytes = base64Decode(cert_text);
  if (bytes.empty()) return std::nullopt;
  IssuedCerts out;
  out.user = ossl::ParseCert(bytes);
  if (out.user) return out;
  auto p7 = ossl::FromDer(d2i_PKCS7, bytes);
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->cert) return std::nullopt;
  STACK_OF(X509)* certs = p7->d.sign->cert;
  int n = sk_X509_num(certs);
  if (n == 0) return std::nullopt;
  int chosen = -1;
  for (int i = 0; i < n && chosen < 0; ++i)
    if (MarksEndEntity(sk_X509_value(certs, i))) chosen = i;
  // Without basic constraints, the certificate the key belongs to is the
  // user's; taking the last one blindly would fail for the common order
  // user, intermediate, root.
  for (int i = 0; i < n && chosen < 0 && key; ++i)
    if (X509_check_private_key(sk_X509_value(certs, i), key) == 1) chosen = i;
  if (chosen < 0) chosen = n - 1;
  out.chain.reset(sk_X509_new_null());
  for (int i = 0; i < n; ++i) {
    X509* c = sk_X509_value(certs, i);
    X509_up_ref(c);
    if (i == chosen) out.user.reset(c);
    else sk_X509_push(out.chain.get(), c);
  }
  return out;
}

Ptr<EVP_PKEY> ReadKeyPem(const std::string& pem) {
  Ptr<BIO> bio = ossl::MemoryReader(pem);
  if (!bio) return nullptr;
  return Ptr<EVP_PKEY>(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>("")));
}

bool VerifyMac(PKCS12* p12, const std::string& password) {
  if (PKCS12_verify_mac(p12, password.c_str(), static_cast<int>(password.size())) == 1) return true;
  // Some writers protect "no password" as an absent one.
  return password.empty() && PKCS12_verify_mac(p12, nullptr, 0) == 1;
}

// A MAC that does not match leaves nothing in OpenSSL's queue; the log
// gets OpenSSL's own words for it.
std::string MacMismatchText() {
  const char* text = ERR_reason_error_string(ERR_PACK(ERR_LIB_PKCS12, 0, PKCS12_R_MAC_VERIFY_FAILURE));
  return text ? text : "mac verify failure";
}

// Why a PKCS#12 file did not open, taken from OpenSSL's queue.
std::string OpenFailureReason(PKCS12* parsed) {
  std::string reason = ossl::TakeErrorText();
  return reason.empty() && parsed ? MacMismatchText() : reason;
}

// The first bytes of a PKCS#12 structure: a SEQUENCE holding the INTEGER
// 3 (the version) first. Bytes that begin so and still do not decode are a
// damaged file rather than some other kind of file.
bool BeginsLikePkcs12(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  if (n < 2 || p[0] != 0x30) return false;
  size_t at = 2;
  if (p[1] & 0x80) at += p[1] & 0x7F;  // the length in the following bytes
  return n >= at + 3 && p[at] == 0x02 && p[at + 1] == 0x01 && p[at + 2] == 0x03;
}

}  // namespace

PfxRefusal WhyPfxRefused(const std::string& bytes, const std::string& password) {
  auto p12 = ossl::ParsePkcs12(bytes);
  PfxRefusal why;
  if (!p12) why = BeginsLikePkcs12(bytes) ? PfxRefusal::kDamaged : PfxRefusal::kNotPkcs12;
  else if (!VerifyMac(p12.get(), password)) why = PfxRefusal::kWrongPassword;
  else why = ossl::OpenPkcs12(p12.get(), password).opened ? PfxRefusal::kNone : PfxRefusal::kDamaged;
  ERR_clear_error();
  return why;
}

std::string PfxRefusalText(PfxRefusal refusal) {
  switch (refusal) {
    case PfxRefusal::kWrongPassword: return "憑證檔密碼錯誤";
    case PfxRefusal::kNotPkcs12: return "檔案不是 PKCS#12 憑證檔";
    case PfxRefusal::kDamaged: return "憑證檔已損毀";
    case PfxRefusal::kNone: break;
  }
  return {};
}

void RememberPfxFile(const std::string& path, const std::string& password) {
  SetPathSetting("env.userPfxFilePath", path);
  setSetting("env.userPfxFilePwd", password);
}

PfxBytesResult encodePfx(const std::string& cert_text, const std::string& key_pem, const std::string& password) {
  if (cert_text.empty()) return {kMakePfxNoCert, {}};
  if (key_pem.empty()) return {kFailed, {}};
  Ptr<EVP_PKEY> key = ReadKeyPem(key_pem);
  auto issued = ReadIssued(cert_text, key.get());
  if (!issued) {
    LogOpenSslFailure("cert", "encodePfx", kMakePfxCertUnreadable);
    return {kMakePfxCertUnreadable, {}};
  }
  char friendly[256] = {};
  X509_NAME_get_text_by_NID(X509_get_subject_name(issued->user.get()), NID_commonName, friendly, sizeof friendly);
  if (!key) {
    LogOpenSslFailure("cert", "encodePfx", kMakePfxCreateFailed);
    return {kMakePfxCreateFailed, {}};
  }
  Ptr<PKCS12> p12(PKCS12_create(password.c_str(), friendly[0] ? friendly : nullptr, key.get(), issued->user.get(),
                                issued->chain.get(), NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                NID_pbe_WithSHA1And40BitRC2_CBC, kPfxIterations, -1, 0));
  // PKCS12_create's own MAC would use SHA-256 under OpenSSL 3.
  if (p12 && PKCS12_set_mac(p12.get(), password.c_str(), -1, nullptr, 0, kPfxMacIterations, EVP_sha1()) != 1)
    p12.reset();
  std::string der = ossl::ToDer(i2d_PKCS12, p12.get());
  if (der.empty()) {
    LogOpenSslFailure("cert", "encodePfx", kMakePfxCreateFailed);
    return {kMakePfxCreateFailed, {}};
  }
  return {kOk, std::move(der)};
}

int makePfxFile(const std::string& cert_text, const std::string& key_pem, const std::string& path,
                const std::string& password) {
  if (cert_text.empty()) return kMakePfxNoCert;
  if (key_pem.empty()) return kFailed;
  if (path.empty()) return kMakePfxNoPath;
  PfxBytesResult pfx = encodePfx(cert_text, key_pem, password);
  if (pfx.code != kOk) return pfx.code;
  return WriteFileMakingFolders(path, pfx.der, 0600) == 0 ? kOk : kMakePfxOpenFailed;
}

int makePfxFromKeyFolder(const std::string& cert_text, const std::string& path, const std::string& password) {
  const std::string folder = GetPathSetting("env.userPrivateKeyFolder");
  for (const auto& name : FilesEndingWith(folder, ".p8")) {
    auto key = ReadNonEmptyFile(folder + "/" + name);
    if (key && makePfxFile(cert_text, *key, path, password) == kOk) {
      RememberPfxFile(path, password);
      return kOk;
    }
  }
  return kFailed;
}

int checkPfxFile(const std::string& path, const std::string& password) {
  auto bytes = ReadNonEmptyFile(path);
  if (!bytes) return kCertFileReadFailed;
  auto p12 = ossl::ParsePkcs12(*bytes);
  if (!p12 || !VerifyMac(p12.get(), password)) {
    LogFailure("cert", "checkPfxFile", kCertFileLoadFailed, OpenFailureReason(p12.get()));
    return kCertFileLoadFailed;
  }
  return certInfoFromPkcs12(*bytes, password).code;
}

int pfxMatches(const CertInfo& record, const std::string& expected_issuer, const std::string& expected_serial) {
  const std::string& issuer = FieldOf(record, "issuer");
  if (pickDnAttribute(expected_issuer, "CN") != pickDnAttribute(issuer, "CN")) return kCertFileWrongIssuer;
  const std::vector<DnItem> expected = DnItems(expected_issuer);
  for (const char* name : {"O", "OU", "S", "L", "C"}) {
    bool named = std::any_of(expected.begin(), expected.end(), [&](const DnItem& i) { return i.name == name; });
    if (named && pickDnAttribute(expected_issuer, name) != pickDnAttribute(issuer, name)) return kCertFileWrongIssuer;
  }
  return FieldOf(record, "serial") == expected_serial ? kOk : kCertFileWrongSerial;
}

PfxLoadResult openPfxFile(const std::string& path, const std::string& password, const std::string& expected_issuer,
                          const std::string& expected_serial) {
  PfxLoadResult r;
  r.path = path;
  auto bytes = ReadNonEmptyFile(path);
  if (!bytes) {
    r.code = kPfxFileLoadFailed;
    return r;
  }
  auto p12 = ossl::ParsePkcs12(*bytes);
  if (!p12 || !VerifyMac(p12.get(), password)) {
    r.code = p12 ? kPfxFileWrongPassword : kCertFileLoadFailed;
    r.error_text = ossl::TakeErrorText();
    LogFailure("cert", "loadPfxSilent", r.code, r.error_text.empty() && p12 ? MacMismatchText() : r.error_text);
    return r;
  }
  if (!expected_issuer.empty()) {
    CertInfoResult info = certInfoFromPkcs12(*bytes, password);
    r.code = info.code != kOk ? kCertFileWrongIssuer : pfxMatches(info.info, expected_issuer, expected_serial);
    if (r.code != kOk) return r;
  }
  r.code = kOk;
  r.pkcs12 = std::move(*bytes);
  return r;
}

PfxLoadResult loadPfxSilent(const std::string& path, const std::string& password,
                            const std::string& expected_issuer, const std::string& expected_serial) {
  PfxLoadResult r = openPfxFile(path, password, expected_issuer, expected_serial);
  r.password = password;
  if (r.code == kOk) RememberPfxFile(path, password);
  return r;
}

}  // namespace quil
