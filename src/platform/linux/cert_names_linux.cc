// Certificate name texts with the Windows formatting rules.
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/cert_store.h"
#include "platform/openssl_ptr.h"

namespace quil::platform {
namespace {

struct X500Key {
  const char* oid;
  const char* key;
};
constexpr X500Key kX500Keys[] = {
    {"2.5.4.3", "CN"},   {"2.5.4.7", "L"},        {"2.5.4.10", "O"},          {"2.5.4.11", "OU"},
    {"1.2.840.113549.1.9.1", "E"}, {"2.5.4.6", "C"}, {"2.5.4.8", "S"},     {"2.5.4.9", "STREET"},
    {"2.5.4.12", "T"},   {"2.5.4.42", "G"},       {"2.5.4.43", "I"},          {"2.5.4.4", "SN"},
    {"0.9.2342.19200300.100.1.25", "DC"}, {"2.5.4.5", "SERIALNUMBER"}, {"2.5.4.17", "PostalCode"},
    {"2.5.4.13", "Description"}, {"2.5.4.20", "Phone"},
};

std::string OidText(const ASN1_OBJECT* obj) {
  char buf[128];
  int n = OBJ_obj2txt(buf, sizeof buf, obj, 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(std::min<int>(n, sizeof buf - 1))) : std::string();
}

std::string Utf8Value(const ASN1_STRING* value) {
  unsigned char* out = nullptr;
  int n = ASN1_STRING_to_UTF8(&out, value);
  if (n < 0) return {};
  std::string s(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return s;
}

bool NeedsQuotes(const std::string& v) {
  if (v.empty()) return true;
  if (v.front() == ' ' || v.back() == ' ') return true;
  return v.find_first_of(",+=\"\n<>#;") != std::string::npos;
}

std::string Quoted(const std::string& v) {
  if (!NeedsQuotes(v)) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string AttributeKey(const ASN1_OBJECT* obj) {
  std::string oid = OidText(obj);
  for (const auto& k : kX500Keys) {
    if (oid == k.oid) return k.key;
  }
  return "OID." + oid;
}

// The first value of `oid` in the name, if any.
std::optional<std::string> FirstOf(X509_NAME* name, const char* oid) {
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
    if (OidText(X509_NAME_ENTRY_get_object(e)) == oid) return Utf8Value(X509_NAME_ENTRY_get_data(e));
  }
  return std::nullopt;
}

// Keeps at most `max` UTF-16 code units, as a buffer of max+1 wide
// characters would.
std::string LimitUtf16(const std::string& s, size_t max) {
  size_t units = 0;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    size_t need = len == 4 ? 2 : 1;
    if (units + need > max) break;
    units += need;
    i += len;
  }
  return s.substr(0, i);
}

}  // namespace

std::string CertSimpleDisplayName(const std::string& der) {
  auto cert = ossl::ParseCert(der);
  if (!cert) return {};
  X509_NAME* subject = X509_get_subject_name(cert.get());
  for (const char* oid : {"2.5.4.3", "2.5.4.11", "2.5.4.10", "1.2.840.113549.1.9.1"}) {
    if (auto v = FirstOf(subject, oid)) return LimitUtf16(*v, 255);
  }
  auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert.get(), NID_subject_alt_name, nullptr, nullptr));
  std::string email;
  for (int i = 0; names && i < sk_GENERAL_NAME_num(names); ++i) {
    GENERAL_NAME* n = sk_GENERAL_NAME_value(names, i);
    if (n->type == GEN_EMAIL) {
      email = Utf8Value(n->d.rfc822Name);
      break;
    }
  }
  GENERAL_NAMES_free(names);
  if (!email.empty()) return LimitUtf16(email, 255);
  if (X509_NAME_entry_count(subject) > 0)
    return LimitUtf16(Utf8Value(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, 0))), 255);
  return {};
}

std::string CertSubjectAttribute(const std::string& der, const std::string& oid) {
  auto cert = ossl::ParseCert(der);
  if (!cert) return {};
  return FirstOf(X509_get_subject_name(cert.get()), oid.c_str()).value_or("");
}

std::string CertX500NameText(const std::string& der, CertName which) {
  auto cert = ossl::ParseCert(der);
  if (!cert) return {};
  X509_NAME* name = which == CertName::kSubject ? X509_get_subject_name(cert.get())
                                                : X509_get_issuer_name(cert.get());
  std::string out;
  int last_set = -1;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
    int set = X509_NAME_ENTRY_set(e);
    if (i > 0) out += set == last_set ? " + " : ", ";
    last_set = set;
    out += AttributeKey(X509_NAME_ENTRY_get_object(e));
    out += "=";
    out += Quoted(Utf8Value(X509_NAME_ENTRY_get_data(e)));
  }
  return out;
}

}  // namespace quil::platform
