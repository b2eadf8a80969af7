#pragma once
// A small certificate authority for tests: keys, certificates with chosen
// names, serials, validity and basic constraints, PKCS#7 bundles.
// Header-only so the platform tests can use it too.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quil::testing {

using NameParts = std::vector<std::pair<std::string, std::string>>;  // {"CN", "x"}, ...

enum class Constraints { kNone, kEndEntity, kAuthority, kOldEndEntity, kOldAuthority, kAuthorityPathLen0 };

struct TestKey {
  EVP_PKEY* key = nullptr;
  TestKey() = default;
  explicit TestKey(EVP_PKEY* k) : key(k) {}
  TestKey(const TestKey&) = delete;
  TestKey(TestKey&& o) noexcept : key(o.key) { o.key = nullptr; }
  ~TestKey() { EVP_PKEY_free(key); }
};

inline TestKey NewTestKey(int bits = 2048) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
  EVP_PKEY* key = nullptr;
  EVP_PKEY_keygen_init(ctx);
  EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, bits);
  EVP_PKEY_keygen(ctx, &key);
  EVP_PKEY_CTX_free(ctx);
  return TestKey(key);
}

inline TestKey KeyFromPem(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return TestKey(key);
}

inline std::string KeyPem(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PKCS8PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<size_t>(n));
  BIO_free(bio);
  return pem;
}

// The public key of a base64 PKCS#10 request.
inline TestKey RequestPublicKey(const std::string& request_b64) {
  std::string der(request_b64.size(), '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(der.data()),
                          reinterpret_cast<const unsigned char*>(request_b64.data()), static_cast<int>(request_b64.size()));
  der.resize(n > 0 ? static_cast<size_t>(n) : 0);
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  X509_REQ* req = d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size()));
  EVP_PKEY* key = req ? X509_REQ_get_pubkey(req) : nullptr;
  X509_REQ_free(req);
  return TestKey(key);
}

// Values beyond the standard's length bounds are stored as they are, as a
// crafted file would hold them.
inline X509_NAME* MakeName(const NameParts& parts, bool bmp = false) {
  X509_NAME* name = X509_NAME_new();
  for (const auto& [field, value] : parts) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    if (!X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_UTF8, bytes, static_cast<int>(value.size()), -1, 0)) {
      ERR_clear_error();
      X509_NAME_add_entry_by_txt(name, field.c_str(), V_ASN1_UTF8STRING, bytes, static_cast<int>(value.size()), -1, 0);
    }
  }
  return name;
}

struct CertTemplate {
  NameParts subject;
  std::string serial_hex = "1A2B3C";  // big endian bytes as hex
  Constraints constraints = Constraints::kEndEntity;
  std::string not_before = "250101000000Z";  // UTCTime or GeneralizedTime text
  std::string not_after = "350101000000Z";
};

inline void SetTime(ASN1_TIME* t, const std::string& text) { ASN1_TIME_set_string(t, text.c_str()); }

inline void AddRawExtension(X509* cert, const char* oid, const std::string& value) {
  ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
  ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(data, reinterpret_cast<const unsigned char*>(value.data()), static_cast<int>(value.size()));
  X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, 0, data);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  ASN1_OCTET_STRING_free(data);
  ASN1_OBJECT_free(obj);
}

// DER of a certificate for `subject_key`, signed by `issuer_key` with the
// issuer name `issuer` (the subject's own name when empty: self-signed).
inline std::string IssueCert(const CertTemplate& tmpl, EVP_PKEY* subject_key, const NameParts& issuer,
                             EVP_PKEY* issuer_key) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  BIGNUM* bn = nullptr;
  BN_hex2bn(&bn, tmpl.serial_hex.c_str());
  ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn, nullptr);
  X509_set_serialNumber(cert, serial);
  ASN1_INTEGER_free(serial);
  BN_free(bn);
  X509_NAME* subject = MakeName(tmpl.subject);
  X509_NAME* issuer_name = MakeName(issuer.empty() ? tmpl.subject : issuer);
  X509_set_subject_name(cert, subject);
  X509_set_issuer_name(cert, issuer_name);
  X509_NAME_free(subject);
  X509_NAME_free(issuer_name);
  ASN1_TIME* t = ASN1_TIME_new();
  SetTime(t, tmpl.not_before);
  X509_set1_notBefore(cert, t);
  SetTime(t, tmpl.not_after);
  X509_set1_notAfter(cert, t);
  ASN1_TIME_free(t);
  X509_set_pubkey(cert, subject_key);
  switch (tmpl.constraints) {
    case Constraints::kNone: break;
    case Constraints::kEndEntity:
    case Constraints::kAuthority:
    case Constraints::kAuthorityPathLen0: {
      const char* value = tmpl.constraints == Constraints::kEndEntity ? "critical,CA:FALSE"
                          : tmpl.constraints == Constraints::kAuthority ? "critical,CA:TRUE"
                                                                       : "critical,CA:TRUE,pathlen:0";
      X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints, value);
      X509_add_ext(cert, ext, -1);
      X509_EXTENSION_free(ext);
      break;
    }
    // SEQUENCE { BIT STRING (one byte, 0x80 authority / 0x40 end entity) }
    case Constraints::kOldAuthority: AddRawExtension(cert, "2.5.29.10", std::string("\x30\x04\x03\x02\x07\x80", 6)); break;
    case Constraints::kOldEndEntity: AddRawExtension(cert, "2.5.29.10", std::string("\x30\x04\x03\x02\x06\x40", 6)); break;
  }
  X509_sign(cert, issuer_key, EVP_sha256());
  unsigned char* out = nullptr;
  int n = i2d_X509(cert, &out);
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  X509_free(cert);
  return der;
}

inline std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// A degenerate PKCS#7 SignedData holding `certs` in this order.
inline std::string Pkcs7Bundle(const std::vector<std::string>& certs) {
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, NID_pkcs7_signed);
  PKCS7_content_new(p7, NID_pkcs7_data);
  for (const auto& der : certs) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    PKCS7_add_certificate(p7, x);
    X509_free(x);
  }
  unsigned char* out = nullptr;
  int n = i2d_PKCS7(p7, &out);
  std::string bytes(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  PKCS7_free(p7);
  return bytes;
}

// A root, an intermediate and an end-entity certificate for `user_key`.
struct TestChain {
  std::string root, intermediate, user;
};

inline const NameParts& RootName() {
  static const NameParts n{{"CN", "Root CA 1"}, {"O", "Exmpl"}, {"C", "TW"}};
  return n;
}
inline const NameParts& IssuerName() {
  static const NameParts n{{"CN", "Exmpl User CA"}, {"OU", "Sec"}, {"O", "Exmpl"}, {"C", "TW"}};
  return n;
}
// The PKCS#12 reader's issuer text of a user certificate of MakeChain.
inline const char* kIssuerText = "CN=Exmpl User CA, OU=Sec, O=Exmpl, C=TW";

struct TestCa {
  TestKey root_key = NewTestKey();
  TestKey ca_key = NewTestKey();
  std::string root, intermediate;
  TestCa() {
    CertTemplate r{RootName(), "01", Constraints::kAuthority};
    root = IssueCert(r, root_key.key, {}, root_key.key);
    CertTemplate i{IssuerName(), "02", Constraints::kAuthorityPathLen0};
    intermediate = IssueCert(i, ca_key.key, RootName(), root_key.key);
  }
  std::string Issue(EVP_PKEY* key, const std::string& cn, const std::string& serial_hex = "1A2B3C",
                    Constraints c = Constraints::kEndEntity, const NameParts& extra = {}) {
    CertTemplate u{{{"CN", cn}}, serial_hex, c};
    for (const auto& e : extra) u.subject.push_back(e);
    return IssueCert(u, key, IssuerName(), ca_key.key);
  }
};

// One CA for the whole test program: keys take time to make.
inline TestCa& SharedCa() {
  static TestCa* ca = new TestCa();
  return *ca;
}

}  // namespace quil::testing
