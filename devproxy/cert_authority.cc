#include "devproxy/cert_authority.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <filesystem>

#include "base/base64.h"
#include "devproxy/crypto.h"
#include "devproxy/data_file.h"

namespace quil::devproxy {
namespace {

using Cert = ossl::Ptr<X509>;
using Bio = ossl::Ptr<BIO>;
using Key = ossl::Ptr<EVP_PKEY>;
// A stack that holds certificates it does not own.
struct BorrowedStackFree {
  void operator()(STACK_OF(X509)* s) const { sk_X509_free(s); }
};

std::string OpenSslError() {
  std::string text = ossl::TakeErrorText();
  return text.empty() ? "unknown error" : text;
}

std::string CertPem(X509* cert) {
  Bio bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(bio.get(), cert);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, n);
}

std::string CertDer(X509* cert) { return ossl::CertDer(cert); }

Cert CertFromDer(const std::string& der) { return ossl::ParseCert(der); }

Cert CertFromPem(const std::string& pem) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return Cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

Key KeyFromPem(const std::string& pem) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return Key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

// The key already at `path` (copied in from a key set, or left by a start
// that ended before its certificate was written), else a new one.
Key KeyAtOrNew(const std::string& path) {
  if (std::filesystem::exists(path))
    if (Key key = KeyFromPem(ReadDataFile(path))) return key;
  return GenerateRsaKey(2048);
}

void AddEntry(X509_NAME* name, const char* field, const std::string& value) {
  if (value.empty()) return;
  X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0);
}

bool AddExt(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) return false;
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  return true;
}

// The first entry of `nid` as raw octets up to a zero byte, as the client
// reads names.
std::string EntryText(X509_NAME* name, int nid) {
  int at = X509_NAME_get_index_by_NID(name, nid, -1);
  if (at < 0) return {};
  ASN1_STRING* s = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at));
  std::string v(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), ASN1_STRING_length(s));
  size_t zero = v.find('\0');
  if (zero != std::string::npos) v.resize(zero);
  return v;
}

// The request's common name as text, whatever string type carries it: the
// file-store request writes an ASCII string, the Windows-store request a
// BMPString.
std::string RequestCn(X509_NAME* name) {
  int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (at < 0) return {};
  unsigned char* utf8 = nullptr;
  int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
  if (n < 0) return {};
  std::string cn(reinterpret_cast<char*>(utf8), n);
  OPENSSL_free(utf8);
  return cn;
}

std::string NameText(X509_NAME* name, bool escape) {
  auto esc = [&](std::string v) {
    if (!escape) return v;
    std::string out;
    for (char c : v) {
      if (c == ',') out += '\\';
      out += c;
    }
    return out;
  };
  std::string text = "CN=" + esc(EntryText(name, NID_commonName));
  const std::pair<int, const char*> kParts[] = {{NID_organizationalUnitName, ", OU="},
                                                {NID_organizationName, ", O="},
                                                {NID_localityName, ", L="},
                                                {NID_stateOrProvinceName, ", S="},
                                                {NID_countryName, ", C="}};
  for (const auto& [nid, prefix] : kParts) {
    std::string v = EntryText(name, nid);
    if (!v.empty()) text += prefix + esc(v);
  }
  return text;
}

std::time_t AsnTime(const ASN1_TIME* t) {
  struct tm tm {};
  if (ASN1_TIME_to_tm(t, &tm) != 1) return 0;
  return timegm(&tm);
}

std::string SerialText(X509* cert) {
  BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get_serialNumber(cert), nullptr);
  char* hex = BN_bn2hex(bn);
  std::string s = hex ? hex : "";
  OPENSSL_free(hex);
  BN_free(bn);
  size_t first = s.find_first_not_of('0');
  return first == std::string::npos ? std::string() : s.substr(first);
}

}  // namespace

struct ParsedCert {
  Cert cert;
};

namespace {

IssuedCert DescribeCert(Cert cert) {
  IssuedCert out;
  out.der = CertDer(cert.get());
  out.serial = SerialText(cert.get());
  out.not_before = AsnTime(X509_get0_notBefore(cert.get()));
  out.not_after = AsnTime(X509_get0_notAfter(cert.get()));
  out.subject = NameText(X509_get_subject_name(cert.get()), true);
  out.issuer = NameText(X509_get_issuer_name(cert.get()), false);
  out.hash = HexUpper(Sha1(out.der));
  out.parsed = std::make_shared<ParsedCert>(ParsedCert{std::move(cert)});
  return out;
}

// A random positive serial of 64 bits; the top bit is left as chance gives
// it, so about half need a leading zero byte in DER.
bool SetRandomSerial(X509* cert, const std::function<bool(const std::string&)>& taken) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string bytes = RandomBytes(8);
    if (bytes[0] == 0) bytes[0] = 1;  // keep all 64 bits significant
    ossl::Ptr<BIGNUM> bn(
        BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), 8, nullptr));
    ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn.get(), nullptr);
    X509_set_serialNumber(cert, serial);
    ASN1_INTEGER_free(serial);
    if (!taken || !taken(SerialText(cert))) return true;
  }
  return false;
}

// Without `subject_key` the caller puts the key in.
Cert MakeCert(EVP_PKEY* subject_key, X509_NAME* subject, X509* issuer_cert, EVP_PKEY* issuer_key,
              std::time_t from, std::time_t to,
              const std::function<bool(const std::string&)>& taken) {
  Cert cert(X509_new());
  X509_set_version(cert.get(), 2);
  if (!SetRandomSerial(cert.get(), taken)) return nullptr;
  X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, 0, &from);
  X509_time_adj_ex(X509_getm_notAfter(cert.get()), 0, 0, &to);
  X509_set_subject_name(cert.get(), subject);
  X509_set_issuer_name(cert.get(), issuer_cert ? X509_get_subject_name(issuer_cert) : subject);
  if (subject_key) X509_set_pubkey(cert.get(), subject_key);
  return cert;
}

// Puts a request's RSA key into `cert` as the request encoded it.
// X509_set_pubkey would encode the key afresh, and OpenSSL 3.0's encoders
// and decoders cost more than the signature that issues the certificate.
bool CopySubjectKey(X509* cert, const X509_PUBKEY* key) {
  ASN1_OBJECT* alg = nullptr;
  const unsigned char* bits = nullptr;
  int length = 0;
  if (!X509_PUBKEY_get0_param(&alg, &bits, &length, nullptr, key) ||
      OBJ_obj2nid(alg) != NID_rsaEncryption)
    return false;
  auto* copy = static_cast<unsigned char*>(OPENSSL_memdup(bits, static_cast<size_t>(length)));
  if (!copy) return false;
  // rsaEncryption takes NULL parameters, as X509_set_pubkey writes them.
  if (!X509_PUBKEY_set0_param(X509_get_X509_PUBKEY(cert), OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL,
                              nullptr, copy, length)) {
    OPENSSL_free(copy);
    return false;
  }
  return true;
}

bool Sign(X509* cert, EVP_PKEY* key) { return X509_sign(cert, key, EVP_sha256()) > 0; }

struct Ca {
  Cert cert;
  Key key;
  IssuerName name;
};

}  // namespace

class CertAuthority::State {
 public:
  std::string folder;
  Ca root;
  std::vector<Ca> issuing;  // [0] is the default
  Cert tls;
  mutable std::mutex mu;

  const Ca* FindIssuing(const IssuerName& name) const {
    for (const auto& ca : issuing)
      if (ca.name == name) return &ca;
    return nullptr;
  }
  const Ca* IssuerOf(X509* cert) const {
    for (const auto& ca : issuing)
      if (X509_NAME_cmp(X509_get_subject_name(ca.cert.get()), X509_get_issuer_name(cert)) == 0)
        return &ca;
    return nullptr;
  }

  // Makes an issuing CA for `name` signed by the root and saves it.
  const Ca* AddIssuing(const IssuerName& name, std::string* error) {
    Ca ca;
    ca.name = name;
    std::string stem = folder + "/issuing-" + std::to_string(issuing.size());
    ca.key = KeyAtOrNew(stem + ".key");
    X509_NAME* subject = X509_NAME_new();
    AddEntry(subject, "CN", name.cn);
    AddEntry(subject, "O", name.o);
    AddEntry(subject, "C", name.c);
    std::time_t now = std::time(nullptr);
    ca.cert = MakeCert(ca.key.get(), subject, root.cert.get(), root.key.get(), now - 86400,
                       now + 3650L * 86400, nullptr);
    X509_NAME_free(subject);
    if (!ca.cert || !AddExt(ca.cert.get(), root.cert.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0") ||
        !AddExt(ca.cert.get(), root.cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !AddExt(ca.cert.get(), ca.cert.get(), NID_subject_key_identifier, "hash") ||
        !AddExt(ca.cert.get(), root.cert.get(), NID_authority_key_identifier, "keyid:always") ||
        !Sign(ca.cert.get(), root.key.get())) {
      *error = "cannot make the issuing CA: " + OpenSslError();
      return nullptr;
    }
    std::string keypem = PrivateKeyPem(ca.key.get());
    if (!WriteDataFile(stem + ".key", keypem, 0600) ||
        !WriteDataFile(stem + ".crt", CertPem(ca.cert.get()), 0644)) {
      *error = "cannot write " + stem;
      return nullptr;
    }
    issuing.push_back(std::move(ca));
    // Clients that trust the bundle must know every issuing CA.
    if (!WriteDataFile(folder + "/ca_bundle.pem", Bundle(), 0644)) {
      *error = "cannot write the CA bundle";
      return nullptr;
    }
    return &issuing.back();
  }

  std::string Bundle() const {
    std::string pem = CertPem(root.cert.get());
    for (const auto& ca : issuing) pem += CertPem(ca.cert.get());
    return pem;
  }
};

struct RequestKey {
  X509_PUBKEY* spki = nullptr;
  ~RequestKey() { X509_PUBKEY_free(spki); }
};

CertAuthority::CertAuthority(std::unique_ptr<State> state) : state_(std::move(state)) {}
CertAuthority::~CertAuthority() = default;

std::unique_ptr<CertAuthority> CertAuthority::LoadOrCreate(const std::string& folder,
                                                           std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder, ec);
  auto state = std::make_unique<State>();
  state->folder = folder;
  std::string root_key = folder + "/root.key", root_crt = folder + "/root.crt";
  if (fs::exists(root_crt)) {
    state->root.cert = CertFromPem(ReadDataFile(root_crt));
    state->root.key = KeyFromPem(ReadDataFile(root_key));
    if (!state->root.cert || !state->root.key) {
      *error = "damaged CA files in " + folder;
      return nullptr;
    }
    for (int i = 0;; ++i) {
      std::string stem = folder + "/issuing-" + std::to_string(i);
      if (!fs::exists(stem + ".crt")) break;
      Ca ca;
      ca.cert = CertFromPem(ReadDataFile(stem + ".crt"));
      ca.key = KeyFromPem(ReadDataFile(stem + ".key"));
      if (!ca.cert || !ca.key) {
        *error = "damaged issuing CA " + stem;
        return nullptr;
      }
      X509_NAME* n = X509_get_subject_name(ca.cert.get());
      ca.name = {EntryText(n, NID_commonName), EntryText(n, NID_organizationName),
                 EntryText(n, NID_countryName)};
      state->issuing.push_back(std::move(ca));
    }
  } else {
    state->root.key = KeyAtOrNew(root_key);
    X509_NAME* subject = X509_NAME_new();
    AddEntry(subject, "CN", "QUIL Demo Root CA");
    AddEntry(subject, "O", "QUIL Demo CA");
    AddEntry(subject, "C", "TW");
    std::time_t now = std::time(nullptr);
    state->root.cert = MakeCert(state->root.key.get(), subject, nullptr, nullptr, now - 86400,
                                now + 7300L * 86400, nullptr);
    X509_NAME_free(subject);
    X509* r = state->root.cert.get();
    if (!r || !AddExt(r, r, NID_basic_constraints, "critical,CA:TRUE") ||
        !AddExt(r, r, NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !AddExt(r, r, NID_subject_key_identifier, "hash") || !Sign(r, state->root.key.get())) {
      *error = "cannot make the root CA: " + OpenSslError();
      return nullptr;
    }
    if (!WriteDataFile(root_key, PrivateKeyPem(state->root.key.get()), 0600) ||
        !WriteDataFile(root_crt, CertPem(r), 0644)) {
      *error = "cannot write the CA into " + folder;
      return nullptr;
    }
  }
  if (state->issuing.empty() && !state->AddIssuing(IssuerName{}, error)) return nullptr;

  std::string tls_crt = folder + "/tls.crt", tls_key = folder + "/tls.key";
  if (fs::exists(tls_crt) && fs::exists(tls_key)) {
    state->tls = CertFromPem(ReadDataFile(tls_crt));
  }
  if (!state->tls) {
    Key k = KeyAtOrNew(tls_key);
    EVP_PKEY* key = k.get();
    X509_NAME* subject = X509_NAME_new();
    AddEntry(subject, "CN", "127.0.0.1");
    AddEntry(subject, "O", "QUIL Demo Proxy");
    std::time_t now = std::time(nullptr);
    X509* root = state->root.cert.get();
    Cert tls = MakeCert(key, subject, root, state->root.key.get(), now - 86400,
                        now + 825L * 86400, nullptr);
    X509_NAME_free(subject);
    if (!tls || !AddExt(tls.get(), root, NID_basic_constraints, "critical,CA:FALSE") ||
        !AddExt(tls.get(), root, NID_ext_key_usage, "serverAuth") ||
        !AddExt(tls.get(), root, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") ||
        !Sign(tls.get(), state->root.key.get()) ||
        !WriteDataFile(tls_key, PrivateKeyPem(key), 0600) ||
        !WriteDataFile(tls_crt, CertPem(tls.get()), 0644)) {
      *error = "cannot make the TLS certificate: " + OpenSslError();
      return nullptr;
    }
    state->tls = std::move(tls);
  }
  auto ca = std::unique_ptr<CertAuthority>(new CertAuthority(std::move(state)));
  if (!WriteDataFile(folder + "/ca_bundle.pem", ca->bundle_pem(), 0644)) {
    *error = "cannot write the CA bundle";
    return nullptr;
  }
  return ca;
}

std::string CertAuthority::root_path() const { return state_->folder + "/root.crt"; }
std::string CertAuthority::issuing_path() const { return state_->folder + "/issuing-0.crt"; }
std::string CertAuthority::tls_cert_path() const { return state_->folder + "/tls.crt"; }
std::string CertAuthority::tls_key_path() const { return state_->folder + "/tls.key"; }

std::string CertAuthority::bundle_pem() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->Bundle();
}

std::optional<CheckedRequest> CertAuthority::CheckRequest(const std::string& csr_base64,
                                                          std::string* why) const {
  auto der = Base64DecodeStrict(csr_base64);
  if (!der || der->empty()) {
    *why = "the request is not base64";
    return std::nullopt;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(der->data());
  ossl::Ptr<X509_REQ> req(d2i_X509_REQ(nullptr, &p, static_cast<long>(der->size())));
  if (!req || p != reinterpret_cast<const unsigned char*>(der->data()) + der->size()) {
    *why = "the request is not a PKCS#10 request";
    ERR_clear_error();
    return std::nullopt;
  }
  EVP_PKEY* key = X509_REQ_get0_pubkey(req.get());
  if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA || EVP_PKEY_get_bits(key) < 2048) {
    *why = "the request's key is not an RSA key of at least 2048 bits";
    return std::nullopt;
  }
  if (X509_REQ_verify(req.get(), key) != 1) {
    *why = "the request's signature does not verify";
    ERR_clear_error();
    return std::nullopt;
  }
  auto kept = std::make_shared<RequestKey>();
  kept->spki = X509_PUBKEY_dup(X509_REQ_get_X509_PUBKEY(req.get()));
  if (!kept->spki) {
    *why = "unreadable public key";
    return std::nullopt;
  }
  CheckedRequest out;
  out.cn = RequestCn(X509_REQ_get_subject_name(req.get()));
  out.key = std::move(kept);
  return out;
}

namespace {
bool AddUserExtensions(X509* cert, X509* issuer) {
  return AddExt(cert, issuer, NID_basic_constraints, "critical,CA:FALSE") &&
         AddExt(cert, issuer, NID_key_usage, "critical,digitalSignature,nonRepudiation,keyEncipherment") &&
         AddExt(cert, issuer, NID_ext_key_usage, "clientAuth,emailProtection") &&
         AddExt(cert, cert, NID_subject_key_identifier, "hash") &&
         AddExt(cert, issuer, NID_authority_key_identifier, "keyid:always");
}
}  // namespace

std::optional<IssuedCert> CertAuthority::Issue(const CheckedRequest& request,
                                               const SubjectName& subject_name,
                                               const IssuerName& issuer_name, int valid_days,
                                               const std::function<bool(const std::string&)>& serial_taken,
                                               std::string* why) {
  std::lock_guard<std::mutex> lock(state_->mu);
  const Ca* ca = state_->FindIssuing(issuer_name);
  if (!ca) ca = state_->AddIssuing(issuer_name, why);
  if (!ca) return std::nullopt;
  X509_NAME* subject = X509_NAME_new();
  AddEntry(subject, "CN", subject_name.cn);
  AddEntry(subject, "OU", subject_name.ou);
  AddEntry(subject, "O", subject_name.o);
  AddEntry(subject, "C", subject_name.c);
  std::time_t now = std::time(nullptr);
  Cert cert = MakeCert(nullptr, subject, ca->cert.get(), ca->key.get(), now,
                       now + static_cast<std::time_t>(valid_days) * 86400, serial_taken);
  X509_NAME_free(subject);
  if (cert && (!request.key || !CopySubjectKey(cert.get(), request.key->spki))) {
    *why = "unreadable public key";
    return std::nullopt;
  }
  if (!cert || !AddUserExtensions(cert.get(), ca->cert.get()) || !Sign(cert.get(), ca->key.get())) {
    *why = cert ? "signing failed: " + OpenSslError() : "no free serial number";
    return std::nullopt;
  }
  return DescribeCert(std::move(cert));
}

std::optional<IssuedCert> CertAuthority::Reissue(const std::string& der, std::time_t not_after,
                                                 std::string* why) {
  std::lock_guard<std::mutex> lock(state_->mu);
  Cert cert = CertFromDer(der);
  const Ca* ca = cert ? state_->IssuerOf(cert.get()) : nullptr;
  if (!ca) {
    *why = "not issued here";
    return std::nullopt;
  }
  X509_time_adj_ex(X509_getm_notAfter(cert.get()), 0, 0, &not_after);
  if (not_after < AsnTime(X509_get0_notBefore(cert.get()))) {
    std::time_t from = not_after - 86400;
    X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, 0, &from);
  }
  if (!Sign(cert.get(), ca->key.get())) {
    *why = OpenSslError();
    return std::nullopt;
  }
  return DescribeCert(std::move(cert));
}

std::optional<IssuedCert> CertAuthority::IssueWithNewKey(
    const SubjectName& subject, int valid_days,
    const std::function<bool(const std::string&)>& serial_taken) {
  auto key = GenerateRsaKey(2048);
  auto kept = std::make_shared<RequestKey>();
  if (!key || X509_PUBKEY_set(&kept->spki, key.get()) != 1) return std::nullopt;
  CheckedRequest request;
  request.key = std::move(kept);
  request.cn = subject.cn;
  std::string why;
  return Issue(request, subject, IssuerName{}, valid_days, serial_taken, &why);
}

std::string CertAuthority::AnswerText(const std::string& der, bool pkcs7_bundle, const ParsedCert* parsed) const {
  if (!pkcs7_bundle) return base64Encode(der);
  std::lock_guard<std::mutex> lock(state_->mu);
  Cert read = parsed ? nullptr : CertFromDer(der);
  X509* cert = parsed ? parsed->cert.get() : read.get();
  if (!cert) return {};
  const Ca* ca = state_->IssuerOf(cert);
  ossl::Ptr<PKCS7> p7(PKCS7_new());
  PKCS7_set_type(p7.get(), NID_pkcs7_signed);
  PKCS7_content_new(p7.get(), NID_pkcs7_data);
  PKCS7_add_certificate(p7.get(), state_->root.cert.get());
  if (ca) PKCS7_add_certificate(p7.get(), ca->cert.get());
  PKCS7_add_certificate(p7.get(), cert);
  unsigned char* out = nullptr;
  int n = i2d_PKCS7(p7.get(), &out);
  std::string bytes(reinterpret_cast<char*>(out), n > 0 ? n : 0);
  OPENSSL_free(out);
  return base64Encode(bytes);
}

bool CertAuthority::VerifySignedText(const std::string& sign_base64, const std::string& text,
                                     const std::string& signer_der, std::string* why) const {
  auto der = Base64DecodeStrict(sign_base64);
  if (!der || der->empty()) {
    *why = "the signature is not base64";
    return false;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(der->data());
  ossl::Ptr<PKCS7> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der->size())));
  if (!p7 || !PKCS7_type_is_signed(p7.get())) {
    ERR_clear_error();
    *why = "the signature is not a PKCS#7 signed-data message";
    return false;
  }
  Cert signer = CertFromDer(signer_der);
  if (!signer) {
    *why = "no signer certificate";
    return false;
  }
  std::unique_ptr<STACK_OF(X509), BorrowedStackFree> certs(sk_X509_new_null());
  sk_X509_push(certs.get(), signer.get());
  Bio out(BIO_new(BIO_s_mem()));
  // Only the named certificate may have signed; its chain is ours and
  // already known, so no path building is needed.
  int ok = PKCS7_verify(p7.get(), certs.get(), nullptr, nullptr, out.get(),
                        PKCS7_NOINTERN | PKCS7_NOVERIFY);
  if (ok != 1) {
    ERR_clear_error();
    *why = "the signature does not verify with the customer's certificate";
    return false;
  }
  char* data = nullptr;
  long n = BIO_get_mem_data(out.get(), &data);
  if (std::string(data, n > 0 ? n : 0) != text) {
    *why = "the signed content differs";
    return false;
  }
  return true;
}

}  // namespace quil::devproxy
