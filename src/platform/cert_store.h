#pragma once
// The current user's certificate stores ("MY", "CA", "ROOT"), memory stores
// and RSA key containers, with the behaviour of the CryptoAPI calls the
// certificate engine relies on:
//   - stores opened by name, enumerated in the order certificates were added;
//   - adding with "replace only by a newer one" (CERT_STORE_ADD_NEWER);
//   - the key provider, key context and friendly name properties;
//   - name texts formatted as Windows formats them (simple display name,
//     X.500 text with quoting), so record readers work on either platform;
//   - PKCS#7 bundle reading, chain building through "CA" and "ROOT" with
//     signature checks, PKCS#12 import into a new key container and export
//     with the private keys.
//
// Certificates travel as DER bytes. Texts are wide (UTF-8). Every call
// blocks; nothing is cached between calls. On Linux the system stores and
// containers live in one SQLite database under DataFolder(), shared safely
// by several processes; on Windows they are CryptoAPI's own, and keys are
// made exportable so they reach OpenSSL (signing, PKCS#12 export) as
// PKCS#8. The key context property holds an open container of the process
// and is not kept by the Windows system stores.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quil::platform {

inline constexpr char kEnhancedProviderName[] = "Microsoft Enhanced Cryptographic Provider v1.0";
constexpr std::uint32_t kProvRsaFull = 1;    // PROV_RSA_FULL
constexpr std::uint32_t kAtKeyExchange = 1;  // AT_KEYEXCHANGE

// CERT_KEY_PROV_INFO_PROP_ID: where the certificate's private key lives.
struct KeyProvInfo {
  std::string container;
  std::string provider = kEnhancedProviderName;
  std::uint32_t provider_type = kProvRsaFull;
  std::uint32_t key_spec = kAtKeyExchange;
};

// A certificate with the properties a store keeps beside it.
struct StoredCert {
  std::string der;
  std::optional<KeyProvInfo> key_prov;  // CERT_KEY_PROV_INFO_PROP_ID
  std::uint32_t key_context_spec = 0;   // CERT_KEY_CONTEXT_PROP_ID; 0 = not set
  std::string friendly_name;            // CERT_FRIENDLY_NAME_PROP_ID; "" = not set
};

enum class AddResult {
  kAdded,     // no matching certificate was there
  kReplaced,  // an older match (earlier notBefore) was replaced (Linux)
  kExists,    // an equal or newer one is there; nothing changed (CRYPT_E_EXISTS)
  kInvalid,   // the bytes are not a certificate
  kFailed,    // the store could not be written
};

class CertStore {
 public:
  virtual ~CertStore() = default;
  // The system store name, or "" for a memory store.
  virtual const std::string& name() const = 0;
  // Every certificate, in the order added (CertEnumCertificatesInStore).
  virtual std::vector<StoredCert> Certificates() = 0;
  // CertAddCertificateContextToStore with CERT_STORE_ADD_NEWER: a matching
  // certificate is replaced only when the new one's notBefore is later. On
  // Linux a certificate matches another with the same issuer name and
  // serial number (one transaction); on Windows CryptoAPI decides (Wine
  // matches the SHA-1 hash, so a newer issue is added beside the older).
  virtual AddResult AddNewer(const StoredCert& cert) = 0;
};

// Opens "MY", "CA" or "ROOT" (letter case ignored) of the current user,
// creating the database on first use. nullptr for other names or when the
// database cannot be opened.
std::unique_ptr<CertStore> OpenSystemStore(const std::string& name);
// A new empty store that lives in memory only (CERT_STORE_PROV_MEMORY).
std::unique_ptr<CertStore> OpenMemoryStore();

// --- Names, as CertGetNameStringW / CertNameToStrW give them ---

enum class CertName { kSubject, kIssuer };

// CERT_NAME_SIMPLE_DISPLAY_TYPE: the subject's first common name, else its
// organizational unit, organization or e-mail, else its first attribute;
// at most 255 characters. "" when the bytes are not a certificate.
std::string CertSimpleDisplayName(const std::string& der);
// CERT_NAME_ATTR_TYPE: the subject's first attribute of the dotted `oid`.
std::string CertSubjectAttribute(const std::string& der, const std::string& oid);
// CertNameToStrW with CERT_X500_NAME_STR: RDNs in encoded order joined by
// ", " (several attributes of one RDN by " + "), values holding , + = " \n
// < > # ; or surrounding spaces wrapped in double quotes with inner quotes
// doubled.
std::string CertX500NameText(const std::string& der, CertName which);

// --- Messages and chains ---

// The certificates of a PKCS#7 SignedData message (CryptMsg decoding), in
// the message's order. Nothing when the bytes are not such a message.
std::optional<std::vector<std::string>> ReadPkcs7Certificates(const std::string& bytes);

// CertGetCertificateChain: the certificate followed by its issuers, each
// found in "MY", "CA" or "ROOT" by subject name and checked by signature,
// up to a self-signed one or the first issuer not found. Nothing when the
// bytes are not a certificate.
std::optional<std::vector<std::string>> BuildCertificateChain(const std::string& der);

// --- Key containers ---

struct KeyContainer {
  std::string name;  // the container name, an upper-case UUID
  std::string provider = kEnhancedProviderName;
  std::uint32_t provider_type = kProvRsaFull;
  std::uint32_t key_spec = kAtKeyExchange;
  std::string private_key_der;  // PKCS#8 PrivateKeyInfo of the RSA key
};

// A new container name: a random UUID, upper case, 36 characters.
std::string NewContainerName();
// CryptAcquireContextW with CRYPT_NEWKEYSET plus the new key: false when a
// container of that name exists already or the database cannot be written.
[[nodiscard]] bool CreateKeyContainer(const KeyContainer& container);
// CryptAcquireContextW without flags: the container when it exists with that
// provider name and type.
std::optional<KeyContainer> AcquireKeyContainer(const std::string& name, const std::string& provider,
                                                std::uint32_t provider_type);
// CryptAcquireCertificatePrivateKey: the container that the certificate's
// key provider property names, when it holds a key.
std::optional<KeyContainer> AcquireCertificatePrivateKey(const StoredCert& cert);

// --- PKCS#12 ---

// PFXImportCertStore: a memory store with every certificate of the file;
// the private key goes into a new key container, and the certificate it
// belongs to gets the key provider property and the friendly name of its
// bag. Reads legacy and modern files. nullptr when the file or password is
// refused (no container is left behind then). `allow_overwrite` mirrors
// PKCS12_ALLOW_OVERWRITE_KEY and has no further effect: containers are
// always new.
std::unique_ptr<CertStore> ImportPfx(const std::string& bytes, const std::string& password,
                                     bool allow_overwrite);
// PFXExportCertStoreEx with EXPORT_PRIVATE_KEYS: every certificate of the
// store; a certificate with a key provider property contributes its key
// (3DES key bag, RC2-40 certificates, 2048 iterations, SHA-1 MAC), the
// others follow without attributes. Nothing when a key cannot be read.
std::optional<std::string> ExportPfx(CertStore& store, const std::string& password);

// --- TLS ---

// The authorities the system trusts beyond OpenSSL's default paths, as DER:
// on Windows the certificates of the "ROOT" system store (the user's and
// the machine's); on Linux none, the default paths being the system's.
std::vector<std::string> SystemTrustAnchors();

// --- Errors ---

// Why the last failing call of this component on this thread failed, as
// the library or the C library words it (for MakeSystemErrorText's
// bracketed form); "" when the last call succeeded or gave no reason.
// Set by OpenSystemStore, CreateKeyContainer, ImportPfx and ExportPfx.
std::string LastCertStoreErrorText();

}  // namespace quil::platform
