// Certificate name texts from CertGetNameStringW and CertNameToStrW.
#include <windows.h>
#include <wincrypt.h>

#include "platform/cert_store.h"
#include "platform/windows/crypt_handles.h"
#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

std::string NameString(const std::string& der, DWORD type, void* param, DWORD max_chars) {
  win::CertContext cert = win::ContextFromDer(der);
  if (!cert) return {};
  DWORD n = max_chars ? max_chars + 1 : CertGetNameStringW(cert.get(), type, 0, param, nullptr, 0);
  std::wstring buf(n, L'\0');
  n = CertGetNameStringW(cert.get(), type, 0, param, buf.data(), n);
  return win::Utf8(buf.c_str(), n ? n - 1 : 0);
}

}  // namespace

std::string CertSimpleDisplayName(const std::string& der) {
  return NameString(der, CERT_NAME_SIMPLE_DISPLAY_TYPE, nullptr, 255);
}

std::string CertSubjectAttribute(const std::string& der, const std::string& oid) {
  return NameString(der, CERT_NAME_ATTR_TYPE, const_cast<char*>(oid.c_str()), 0);
}

std::string CertX500NameText(const std::string& der, CertName which) {
  win::CertContext cert = win::ContextFromDer(der);
  if (!cert) return {};
  CERT_NAME_BLOB* name = which == CertName::kSubject ? &cert->pCertInfo->Subject : &cert->pCertInfo->Issuer;
  DWORD n = CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, nullptr, 0);
  std::wstring buf(n, L'\0');
  n = CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, buf.data(), n);
  return win::Utf8(buf.c_str(), n ? n - 1 : 0);
}

}  // namespace quil::platform
