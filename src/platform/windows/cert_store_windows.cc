// The current user's system stores and memory stores on CryptoAPI.
#include "platform/cert_store.h"

#include <windows.h>
#include <wincrypt.h>

#include <cctype>

#include "platform/openssl_ptr.h"
#include "platform/windows/crypt_handles.h"
#include "platform/windows/wide_text.h"

namespace quil::platform {

namespace win {

CertContext ContextFromDer(const std::string& der) {
  if (der.empty()) return nullptr;
  return CertContext(CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
}

std::string DerOf(PCCERT_CONTEXT cert) {
  return std::string(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
}

bool SetKeyProvInfo(PCCERT_CONTEXT cert, const KeyProvInfo& info) {
  std::wstring container = Utf16(info.container);
  std::wstring provider = Utf16(info.provider);
  CRYPT_KEY_PROV_INFO prop{};
  prop.pwszContainerName = container.data();
  prop.pwszProvName = provider.data();
  prop.dwProvType = info.provider_type;
  prop.dwKeySpec = info.key_spec;
  return CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &prop);
}

void SetLastErrorFromSystem(const std::string& fallback) {
  DWORD error = GetLastError();
  ossl::SetLastErrorText(error ? ErrorText(error) : fallback);
}

}  // namespace win

namespace {

using win::CertContext;
using win::kEncoding;
using win::StoreHandle;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A property's bytes; empty when the certificate does not have it.
std::string Property(PCCERT_CONTEXT cert, DWORD id) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(cert, id, nullptr, &size) || size == 0) return {};
  std::string bytes(size, '\0');
  if (!CertGetCertificateContextProperty(cert, id, bytes.data(), &size)) return {};
  bytes.resize(size);
  return bytes;
}

StoredCert ReadStoredCert(PCCERT_CONTEXT cert) {
  StoredCert out;
  out.der = win::DerOf(cert);
  std::string prov = Property(cert, CERT_KEY_PROV_INFO_PROP_ID);
  if (prov.size() >= sizeof(CRYPT_KEY_PROV_INFO)) {
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(prov.data());
    KeyProvInfo k;
    k.container = info->pwszContainerName ? win::Utf8(info->pwszContainerName) : "";
    k.provider = info->pwszProvName ? win::Utf8(info->pwszProvName) : "";
    k.provider_type = info->dwProvType;
    k.key_spec = info->dwKeySpec;
    out.key_prov = k;
  }
  std::string context = Property(cert, CERT_KEY_CONTEXT_PROP_ID);
  if (context.size() >= sizeof(CERT_KEY_CONTEXT))
    out.key_context_spec = reinterpret_cast<const CERT_KEY_CONTEXT*>(context.data())->dwKeySpec;
  std::string name = Property(cert, CERT_FRIENDLY_NAME_PROP_ID);
  std::wstring wide(reinterpret_cast<const wchar_t*>(name.data()), name.size() / sizeof(wchar_t));
  while (!wide.empty() && wide.back() == L'\0') wide.pop_back();
  out.friendly_name = win::Utf8(wide);
  return out;
}

// Sets the properties `cert` carries on the context about to be added.
bool SetProperties(PCCERT_CONTEXT context, const StoredCert& cert) {
  if (cert.key_prov) {
    if (!win::SetKeyProvInfo(context, *cert.key_prov)) return false;
    if (cert.key_context_spec != 0) {
      // The key context holds an open container of this process: it lives
      // with the context and is never written to a system store.
      win::Provider prov;
      if (CryptAcquireContextW(prov.out(), win::Utf16(cert.key_prov->container).c_str(),
                               win::Utf16(cert.key_prov->provider).c_str(), cert.key_prov->provider_type, 0)) {
        CERT_KEY_CONTEXT key_context{};
        key_context.cbSize = sizeof key_context;
        key_context.hCryptProv = prov.get();
        key_context.dwKeySpec = cert.key_context_spec;
        if (CertSetCertificateContextProperty(context, CERT_KEY_CONTEXT_PROP_ID, 0, &key_context)) prov.release();
      }
    }
  }
  if (!cert.friendly_name.empty()) {
    std::wstring name = win::Utf16(cert.friendly_name);
    CRYPT_DATA_BLOB blob{static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)),
                         reinterpret_cast<BYTE*>(name.data())};
    if (!CertSetCertificateContextProperty(context, CERT_FRIENDLY_NAME_PROP_ID, 0, &blob)) return false;
  }
  return true;
}

class WindowsStore : public CertStore {
 public:
  WindowsStore(std::string name, HCERTSTORE store) : name_(std::move(name)), store_(store) {}
  const std::string& name() const override { return name_; }

  std::vector<StoredCert> Certificates() override {
    std::vector<StoredCert> out;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(store_.get(), c)) != nullptr) out.push_back(ReadStoredCert(c));
    return out;
  }

  AddResult AddNewer(const StoredCert& cert) override {
    CertContext context = win::ContextFromDer(cert.der);
    if (!context) return AddResult::kInvalid;
    // CryptoAPI decides which certificate is the same one (Wine: the same
    // SHA-1 hash), so a newer issue is added beside an older one.
    if (!SetProperties(context.get(), cert)) {
      win::SetLastErrorFromSystem("the certificate's properties cannot be set");
      return AddResult::kFailed;
    }
    if (!CertAddCertificateContextToStore(store_.get(), context.get(), CERT_STORE_ADD_NEWER, nullptr)) {
      if (GetLastError() == static_cast<DWORD>(CRYPT_E_EXISTS)) return AddResult::kExists;
      win::SetLastErrorFromSystem("the store cannot keep the certificate");
      return AddResult::kFailed;
    }
    // A system store is written now, not when it is closed (Wine waits),
    // so another store or process sees the certificate at once.
    if (!name_.empty() && !CertControlStore(store_.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
      win::SetLastErrorFromSystem("the store cannot keep the certificate");
      return AddResult::kFailed;
    }
    return AddResult::kAdded;
  }

 private:
  std::string name_;
  StoreHandle store_;
};

}  // namespace

std::unique_ptr<CertStore> OpenSystemStore(const std::string& name) {
  std::string upper = Upper(name);
  if (upper != "MY" && upper != "CA" && upper != "ROOT") return nullptr;
  std::wstring wname = win::Utf16(upper);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kEncoding, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                   wname.c_str());
  if (!store) {
    win::SetLastErrorFromSystem("the system store cannot be opened");
    return nullptr;
  }
  ossl::ClearLastError();
  return std::make_unique<WindowsStore>(upper, store);
}

std::vector<std::string> SystemTrustAnchors() {
  std::vector<std::string> out;
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kEncoding, 0,
                                  CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"ROOT");
  if (!root) return out;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(root, c)) != nullptr) out.push_back(win::DerOf(c));
  CertCloseStore(root, 0);
  return out;
}

std::unique_ptr<CertStore> win::AdoptStore(HCERTSTORE store) {
  return std::make_unique<WindowsStore>("", store);
}

std::unique_ptr<CertStore> OpenMemoryStore() {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, kEncoding, 0, 0, nullptr);
  if (!store) return nullptr;
  return win::AdoptStore(store);
}

}  // namespace quil::platform
