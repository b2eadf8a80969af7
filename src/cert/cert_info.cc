#include "cert/cert_info.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/objects.h>

#include <ctime>

#include "base/failure_log.h"
#include "base/hex_text.h"
#include "base/openssl_ptr.h"
#include "base/regex_text.h"
#include "base/result_codes.h"
#include "base/time_digits.h"
#include "cert/dn_text.h"
#include "platform/clock.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

using ossl::Ptr;

// The raw content octets of the first entry of `nid`, up to a zero byte.
std::string FirstEntry(X509_NAME* name, int nid) {
  int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0) return {};
  const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  std::string raw(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                  static_cast<size_t>(ASN1_STRING_length(data)));
  size_t zero = raw.find('\0');
  return zero == std::string::npos ? raw : raw.substr(0, zero);
}

// "CN=cn[, OU=..][, O=..][, L=..][, S=..][, C=..]", values escaped or not.
std::string NameText(X509_NAME* name, bool escape_commas) {
  auto value = [&](int nid) {
    std::string v = FirstEntry(name, nid);
    return escape_commas ? RegexReplace(v, ",", "\\,") : v;
  };
  std::string text = "CN=" + value(NID_commonName);
  const std::pair<const char*, int> kParts[] = {{", OU=", NID_organizationalUnitName},
                                                {", O=", NID_organizationName},
                                                {", L=", NID_localityName},
                                                {", S=", NID_stateOrProvinceName},
                                                {", C=", NID_countryName}};
  for (const auto& [label, nid] : kParts) {
    std::string v = value(nid);
    if (!v.empty()) text += label + v;
  }
  return text;
}

std::string TimeText(const ASN1_TIME* t) {
  if (!t) return {};
  AsnTimeType type = ASN1_STRING_type(t) == V_ASN1_UTCTIME           ? AsnTimeType::kUtcTime
                     : ASN1_STRING_type(t) == V_ASN1_GENERALIZEDTIME ? AsnTimeType::kGeneralizedTime
                                                                     : AsnTimeType::kOther;
  std::string text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(t)),
                   static_cast<size_t>(ASN1_STRING_length(t)));
  return certTimeText(type, text);
}

std::string SerialBytes(X509* cert) {
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(serial)),
                     static_cast<size_t>(ASN1_STRING_length(serial)));
}

// The store reader's view of time: the certificate's own instant (RFC 5280
// reading of two-digit years), in local time.
std::string StoreTimeText(const ASN1_TIME* t) {
  struct tm utc {};
  if (!t || ASN1_TIME_to_tm(t, &utc) != 1) return {};
  time_t when = platform::UtcToTime(&utc);
  struct tm local {};
  if (!platform::ToLocalTime(when, &local)) return {};
  return TimeDigits(local);
}

}  // namespace

CertInfoResult certInfoFromPkcs12(const std::string& pkcs12_der, const std::string& password) {
  auto p12 = ossl::ParsePkcs12(pkcs12_der);
  ossl::Pkcs12Contents opened = ossl::OpenPkcs12(p12.get(), password);
  const Ptr<X509>& cert = opened.cert;
  if (!opened.opened || !cert) {
    LogOpenSslFailure("cert", "certInfoFromPkcs12", kPkcs12ParseFailed);
    return {kPkcs12ParseFailed, {}};
  }
  X509_NAME* subject = X509_get_subject_name(cert.get());
  CertInfo info;
  info["cn"] = FirstEntry(subject, NID_commonName);
  info["certUserId"] = userIdFromCn(info["cn"], UserIdPattern::kPkcs12Reader);
  info["serial"] = serialText(SerialBytes(cert.get()));
  info["notBefore"] = TimeText(X509_get0_notBefore(cert.get()));
  info["notAfter"] = TimeText(X509_get0_notAfter(cert.get()));
  info["subject"] = NameText(subject, true);
  info["issuer"] = NameText(X509_get_issuer_name(cert.get()), false);
  info["ou"] = FirstEntry(subject, NID_organizationalUnitName);
  info["o"] = FirstEntry(subject, NID_organizationName);
  return {0, std::move(info)};
}

std::string certFingerprintFromPkcs12(const std::string& pkcs12_der, const std::string& password) {
  auto p12 = ossl::ParsePkcs12(pkcs12_der);
  ossl::Pkcs12Contents opened = ossl::OpenPkcs12(p12.get(), password);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!opened.opened || !opened.cert || X509_digest(opened.cert.get(), EVP_sha256(), digest, &length) != 1) {
    LogOpenSslFailure("cert", "certFingerprintFromPkcs12", kFailed);
    return {};
  }
  return HexText(std::string_view(reinterpret_cast<const char*>(digest), length), HexCase::kUpper, ':');
}

CertInfo certInfoFromContext(const std::string& der) {
  using platform::ToNarrow;
  CertInfo info;
  auto cert = ossl::ParseCert(der);
  info["cn"] = ToNarrow(platform::CertSimpleDisplayName(der));
  info["serial"] = cert ? serialText(SerialBytes(cert.get())) : "";
  info["notBefore"] = cert ? StoreTimeText(X509_get0_notBefore(cert.get())) : "";
  info["notAfter"] = cert ? StoreTimeText(X509_get0_notAfter(cert.get())) : "";
  info["subject"] = ToNarrow(platform::CertX500NameText(der, platform::CertName::kSubject));
  info["issuer"] = ToNarrow(platform::CertX500NameText(der, platform::CertName::kIssuer));
  // Subject attributes, as the S_OU, S_O and S_C criteria of a search key
  // name them.
  info["ou"] = extractDnValue(info["subject"], "OU");
  info["o"] = extractDnValue(info["subject"], "O");
  info["c"] = extractDnValue(info["subject"], "C");
  info["issuer_cn"] = extractDnValue(info["issuer"], "CN");
  info["issuer_ou"] = extractDnValue(info["issuer"], "OU");
  info["issuer_o"] = extractDnValue(info["issuer"], "O");
  info["issuer_c"] = extractDnValue(info["issuer"], "C");
  return info;
}

namespace {

// One "//"-separated alternative of a search key: every criterion it names
// equals the record's field. An alternative naming none matches any record.
bool AlternativeMatches(const std::string& piece, const CertInfo& record) {
  static const char* const kCriteria[][2] = {
      {"S_CN", "cn"},        {"S_OU", "ou"},        {"S_O", "o"},
      {"S_C", "c"},          {"S_SN", "serial"},    {"O_CN", "issuer_cn"},
      {"O_OU", "issuer_ou"}, {"O_O", "issuer_o"},   {"O_C", "issuer_c"},
  };
  for (const auto& c : kCriteria) {
    std::string want = extractDnValue(piece, c[0]);
    if (!want.empty() && want != FieldOf(record, c[1])) return false;
  }
  return true;
}

}  // namespace

bool RecordMatchesKey(const std::string& key, const CertInfo& record) {
  for (size_t start = 0;;) {
    size_t end = key.find("//", start);
    std::string piece = RegexReplace(key.substr(start, end == std::string::npos ? std::string::npos : end - start),
                                     "^\\s+|\\s+$", "");
    if (!piece.empty() && AlternativeMatches(piece, record)) return true;
    if (end == std::string::npos) return false;
    start = end + 2;
  }
}

bool certMatchesKey(const std::string& key, const std::string& cert_der) {
  return RecordMatchesKey(key, certInfoFromContext(cert_der));
}

}  // namespace quil
