// Key containers, PKCS#12 import, PKCS#7 bundles and chains on CryptoAPI.
// Keys are made exportable, so they reach the PKCS#12 writer and the
// signing code as PKCS#8 through PRIVATEKEYBLOB.
#include <openssl/pem.h>

#include <windows.h>
#include <wincrypt.h>

#include "platform/cert_store.h"
#include "platform/openssl_ptr.h"
#include "platform/windows/crypt_handles.h"
#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

using win::CertContext;
using win::kEncoding;

struct MsgCloser {
  void operator()(HCRYPTMSG m) const { CryptMsgClose(m); }
};
using MsgHandle = std::unique_ptr<void, MsgCloser>;

struct KeyDestroyer {
  void operator()(HCRYPTKEY* k) const {
    CryptDestroyKey(*k);
    delete k;
  }
};

// PKCS#8 bytes to a PRIVATEKEYBLOB for `key_spec` (exchange or signature).
std::string PrivateKeyBlob(const std::string& pkcs8, std::uint32_t key_spec) {
  auto key = ossl::ParsePkcs8(pkcs8);
  if (!key) return {};
  ossl::Ptr<BIO> bio(BIO_new(BIO_s_mem()));
  if (!bio || i2b_PrivateKey_bio(bio.get(), key.get()) <= 0) return {};
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  std::string blob(data, static_cast<size_t>(n));
  if (blob.size() >= sizeof(BLOBHEADER) && key_spec == AT_SIGNATURE) {
    ALG_ID alg = CALG_RSA_SIGN;
    memcpy(blob.data() + offsetof(BLOBHEADER, aiKeyAlg), &alg, sizeof alg);
  }
  return blob;
}

// The container's key as PKCS#8 with the kind it is kept under (exchange or
// signature); empty when it holds none or the key cannot leave the container.
std::string ExportedKey(HCRYPTPROV prov, std::uint32_t* key_spec) {
  for (DWORD kind : {static_cast<DWORD>(AT_KEYEXCHANGE), static_cast<DWORD>(AT_SIGNATURE)}) {
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(prov, kind, &key)) continue;
    DWORD size = 0;
    std::string blob;
    if (CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size)) {
      blob.resize(size);
      if (!CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, reinterpret_cast<BYTE*>(blob.data()), &size)) blob.clear();
      blob.resize(blob.empty() ? 0 : size);
    }
    CryptDestroyKey(key);
    if (blob.empty()) continue;
    const auto* p = reinterpret_cast<const unsigned char*>(blob.data());
    ossl::Ptr<EVP_PKEY> pkey(b2i_PrivateKey(&p, static_cast<long>(blob.size())));
    SecureZeroMemory(blob.data(), blob.size());
    if (!pkey) continue;
    *key_spec = kind;
    return ossl::Pkcs8Der(pkey.get());
  }
  return {};
}

std::optional<KeyContainer> ReadContainer(HCRYPTPROV prov, const std::string& name, const std::string& provider,
                                          std::uint32_t provider_type) {
  KeyContainer c;
  c.name = name;
  c.provider = provider;
  c.provider_type = provider_type;
  c.private_key_der = ExportedKey(prov, &c.key_spec);
  return c;
}

void DeleteContainer(const std::wstring& name, const std::wstring& provider, DWORD type) {
  HCRYPTPROV gone = 0;
  CryptAcquireContextW(&gone, name.c_str(), provider.c_str(), type, CRYPT_DELETEKEYSET);
}

std::string MsgParam(HCRYPTMSG msg, DWORD param, DWORD index, bool* ok) {
  DWORD size = 0;
  *ok = CryptMsgGetParam(msg, param, index, nullptr, &size);
  if (!*ok) return {};
  std::string bytes(size, '\0');
  *ok = CryptMsgGetParam(msg, param, index, bytes.data(), &size);
  bytes.resize(size);
  return bytes;
}

}  // namespace

bool CreateKeyContainer(const KeyContainer& container) {
  std::string blob = container.name.empty() ? "" : PrivateKeyBlob(container.private_key_der, container.key_spec);
  if (blob.empty()) {
    ossl::SetLastError("no container name or key");
    return false;
  }
  std::wstring name = win::Utf16(container.name);
  std::wstring provider = win::Utf16(container.provider);
  win::Provider prov;
  if (!CryptAcquireContextW(prov.out(), name.c_str(), provider.c_str(), container.provider_type, CRYPT_NEWKEYSET)) {
    win::SetLastErrorFromSystem("the key container cannot be made");
    return false;
  }
  HCRYPTKEY key = 0;
  BOOL imported = CryptImportKey(prov.get(), reinterpret_cast<const BYTE*>(blob.data()),
                                 static_cast<DWORD>(blob.size()), 0, CRYPT_EXPORTABLE, &key);
  SecureZeroMemory(blob.data(), blob.size());
  if (!imported) {
    win::SetLastErrorFromSystem("the key cannot be imported");
    DeleteContainer(name, provider, container.provider_type);
    return false;
  }
  CryptDestroyKey(key);
  ossl::ClearLastError();
  return true;
}

std::optional<KeyContainer> AcquireKeyContainer(const std::string& name, const std::string& provider,
                                                std::uint32_t provider_type) {
  win::Provider prov;
  if (!CryptAcquireContextW(prov.out(), win::Utf16(name).c_str(), win::Utf16(provider).c_str(), provider_type, 0))
    return std::nullopt;
  return ReadContainer(prov.get(), name, provider, provider_type);
}

std::optional<KeyContainer> AcquireCertificatePrivateKey(const StoredCert& cert) {
  if (!cert.key_prov) return std::nullopt;
  CertContext context = win::ContextFromDer(cert.der);
  if (!context) return std::nullopt;
  if (!win::SetKeyProvInfo(context.get(), *cert.key_prov)) return std::nullopt;
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
  DWORD key_kind = 0;
  BOOL must_free = FALSE;
  if (!CryptAcquireCertificatePrivateKey(context.get(), 0, nullptr, &handle, &key_kind, &must_free))
    return std::nullopt;
  auto c = ReadContainer(handle, cert.key_prov->container, cert.key_prov->provider, cert.key_prov->provider_type);
  if (must_free) CryptReleaseContext(handle, 0);
  if (!c || c->private_key_der.empty()) return std::nullopt;
  return c;
}

std::unique_ptr<CertStore> ImportPfx(const std::string& bytes, const std::string& password, bool allow_overwrite) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()),
                       reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
  if (!PFXIsPFXBlob(&blob)) {
    ossl::SetLastErrorText("not a PKCS#12 file");
    return nullptr;
  }
  std::wstring wpassword = win::Utf16(password);
  DWORD flags = CRYPT_EXPORTABLE | CRYPT_USER_KEYSET | (allow_overwrite ? PKCS12_ALLOW_OVERWRITE_KEY : 0);
  HCERTSTORE store = PFXImportCertStore(&blob, wpassword.c_str(), flags);
  SecureZeroMemory(wpassword.data(), wpassword.size() * sizeof(wchar_t));
  if (!store) {
    win::SetLastErrorFromSystem("the PKCS#12 file cannot be read with this password");
    return nullptr;
  }
  ossl::ClearLastError();
  return win::AdoptStore(store);
}

std::optional<std::vector<std::string>> ReadPkcs7Certificates(const std::string& bytes) {
  if (bytes.empty()) return std::nullopt;
  MsgHandle msg(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  if (!msg) return std::nullopt;
  if (!CryptMsgUpdate(msg.get(), reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()),
                      TRUE))
    return std::nullopt;
  bool ok = false;
  std::string type = MsgParam(msg.get(), CMSG_TYPE_PARAM, 0, &ok);
  if (!ok || type.size() != sizeof(DWORD)) return std::nullopt;
  DWORD kind = *reinterpret_cast<const DWORD*>(type.data());
  if (kind != CMSG_SIGNED && kind != CMSG_SIGNED_AND_ENVELOPED) return std::nullopt;
  std::string count_bytes = MsgParam(msg.get(), CMSG_CERT_COUNT_PARAM, 0, &ok);
  if (!ok || count_bytes.size() != sizeof(DWORD)) return std::nullopt;
  DWORD count = *reinterpret_cast<const DWORD*>(count_bytes.data());
  std::vector<std::string> out;
  for (DWORD i = 0; i < count; ++i) {
    std::string der = MsgParam(msg.get(), CMSG_CERT_PARAM, i, &ok);
    if (ok) out.push_back(std::move(der));
  }
  return out;
}

std::optional<std::vector<std::string>> BuildCertificateChain(const std::string& der) {
  CertContext cert = win::ContextFromDer(der);
  if (!cert) return std::nullopt;
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, cert.get(), nullptr, nullptr, &para, CERT_CHAIN_CACHE_END_CERT, nullptr,
                               &chain))
    return std::vector<std::string>{der};
  std::vector<std::string> out;
  for (DWORD s = 0; s < chain->cChain; ++s) {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[s];
    for (DWORD e = 0; e < simple->cElement; ++e) out.push_back(win::DerOf(simple->rgpElement[e]->pCertContext));
  }
  CertFreeCertificateChain(chain);
  if (out.empty()) out.push_back(der);
  return out;
}

}  // namespace quil::platform
