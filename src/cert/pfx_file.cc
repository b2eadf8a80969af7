#include "cert/pfx_file.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "base/result_codes.h"
#include "cert/cert_files.h"
#include "cert/cert_stores.h"
#include "cert/dn_text.h"
#include "cert/openssl_util.h"
#include "cert/password_rules.h"
#include "cert/pfx_dialogs.h"
#include "cert/regex_text.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/text_codec.h"
#include "proxy/file_io.h"
#include "proxy/settings.h"
#include "ui/ui.h"

namespace quil {
namespace {

using cert_internal::Ptr;

constexpr int kPfxIterations = 2048;
constexpr int kPfxMacIterations = 1;

void RememberPfx(const std::string& path, const std::string& password) {
  setPathSetting("env.userPfxFilePath", path);
  setSetting("env.userPfxFilePwd", password);
}

bool MarksEndEntity(X509* cert) {
  int crit = 0;
  auto* bc = static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(cert, NID_basic_constraints, &crit, nullptr));
  bool end_entity = bc && !bc->ca;
  BASIC_CONSTRAINTS_free(bc);
  return end_entity;
}

struct IssuedCerts {
  Ptr<X509> user;
  Ptr<STACK_OF(X509)> chain;
};

// The user certificate and chain of an issued certificate text.
std::optional<IssuedCerts> ReadIssued(const std::string& cert_text, EVP_PKEY* key) {
  auto bytes = cert_internal::Base64Decode(cert_text);
  if (!bytes) return std::nullopt;
  IssuedCerts out;
  out.user = cert_internal::ParseCertDer(*bytes);
  if (out.user) return out;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes->data());
  Ptr<PKCS7> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(bytes->size())));
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
  Ptr<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  return Ptr<EVP_PKEY>(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>("")));
}

bool VerifyMac(PKCS12* p12, const std::string& password) {
  if (PKCS12_verify_mac(p12, password.c_str(), static_cast<int>(password.size())) == 1) return true;
  // Some writers protect "no password" as an absent one.
  return password.empty() && PKCS12_verify_mac(p12, nullptr, 0) == 1;
}

std::string KeyFolder() { return getPathSetting("env.userPrivateKeyFolder"); }

// Tries each key file of the key folder; 0 on the first that fits.
int WriteWithFittingKey(const std::string& cert_text, const std::string& path, const std::string& password) {
  std::string folder = KeyFolder();
  for (const auto& name : ListFilesEndingWith(folder, ".p8")) {
    auto key = ReadFileBytes(folder + "/" + name);
    if (key && makePfxFile(cert_text, *key, path, password) == 0) return 0;
  }
  return kFailed;
}

// The pfxMatches list pattern of one attribute.
std::string ListPattern(const std::string& name) {
  return "(\\s*[a-zA-Z]+\\s*=\\s*[^,]+\\s*,\\s*)*(\\s*" + name +
         "\\s*=\\s*([^,]+))(\\s*,\\s*[a-zA-Z]+\\s*=\\s*[^,]+)*";
}

// Asks for a path and password until `save(path, narrow password)` succeeds
// (it shows its own errors) or the user cancels (53401). The dialog starts
// at `path`, or the remembered one, and keeps what was typed; a success is
// remembered.
template <typename Save>
PfxChoiceResult SaveThroughDialog(const std::string& path, Save save) {
  PfxDialogInput preset{path.empty() ? getPathSetting("env.userPfxFilePath") : path, ""};
  PfxPasswordRules rules = PfxPasswordRulesFromSettings();
  for (;;) {
    auto input = RunSavePfxDialog(preset, rules);
    if (!input) return {kCancelled, preset.path, ""};
    preset = *input;
    if (input->path.empty()) {
      ui::CurrentUi().MessageBox("憑證儲存路徑未指定", ui::Buttons::kOk);
      continue;
    }
    std::string password = platform::ToNarrow(input->password);
    if (!save(input->path, password)) continue;
    RememberPfx(input->path, password);
    return {0, input->path, password};
  }
}

}  // namespace

int makePfxFile(const std::string& cert_text, const std::string& key_pem, const std::string& path,
                const std::string& password) {
  if (cert_text.empty()) return kMakePfxNoCert;
  if (key_pem.empty()) return kFailed;
  if (path.empty()) return kMakePfxNoPath;
  Ptr<EVP_PKEY> key = ReadKeyPem(key_pem);
  auto issued = ReadIssued(cert_text, key.get());
  if (!issued) {
    cert_internal::LastOpenSslError();
    return kMakePfxCertUnreadable;
  }
  char friendly[256] = {};
  X509_NAME_get_text_by_NID(X509_get_subject_name(issued->user.get()), NID_commonName, friendly, sizeof friendly);
  if (!key) return kMakePfxCreateFailed;
  Ptr<PKCS12> p12(PKCS12_create(password.c_str(), friendly[0] ? friendly : nullptr, key.get(), issued->user.get(), issued->chain.get(),
                                NID_pbe_WithSHA1And3_Key_TripleDES_CBC, NID_pbe_WithSHA1And40BitRC2_CBC,
                                kPfxIterations, -1, 0));
  // PKCS12_create's own MAC would use SHA-256 under OpenSSL 3.
  if (p12 && PKCS12_set_mac(p12.get(), password.c_str(), -1, nullptr, 0, kPfxMacIterations, EVP_sha1()) != 1)
    p12.reset();
  if (!p12) {
    cert_internal::LastOpenSslError();
    return kMakePfxCreateFailed;
  }
  unsigned char* der = nullptr;
  int n = i2d_PKCS12(p12.get(), &der);
  if (n <= 0) return kMakePfxCreateFailed;
  std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(n));
  OPENSSL_free(der);
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) platform::MakeFolders(path.substr(0, slash));
  return WriteFileAtomically(path, bytes, 0600) == 0 ? 0 : kMakePfxOpenFailed;
}

int makePfxFromKeyFolder(const std::string& cert_text, const std::string& path, const std::string& password) {
  if (WriteWithFittingKey(cert_text, path, password) != 0) return kFailed;
  RememberPfx(path, password);
  return 0;
}

PfxChoiceResult savePfxWithDialog(const std::string& cert_text, const std::string& path) {
  return SaveThroughDialog(path, [&](const std::string& chosen, const std::string& password) {
    return WriteWithFittingKey(cert_text, chosen, password) == 0;
  });
}

int checkPfxFile(const std::string& path, const std::string& password) {
  auto bytes = ReadFileBytes(path);
  if (!bytes) return kCertFileReadFailed;
  auto p12 = cert_internal::ParsePkcs12(*bytes);
  if (!p12 || !VerifyMac(p12.get(), password)) {
    cert_internal::LastOpenSslError();
    return kCertFileLoadFailed;
  }
  return certInfoFromPkcs12(*bytes, password).code;
}

int pfxMatches(const CertInfo& record, const std::string& expected_issuer, const std::string& expected_serial) {
  const std::string& issuer = FieldOf(record, "issuer");
  if (pickDnAttribute(expected_issuer, "CN") != pickDnAttribute(issuer, "CN")) return kCertFileWrongIssuer;
  for (const char* name : {"O", "OU", "S", "L", "C"}) {
    if (!RegexMatchesWhole(expected_issuer, ListPattern(name))) continue;
    if (pickDnAttribute(expected_issuer, name) != pickDnAttribute(issuer, name)) return kCertFileWrongIssuer;
  }
  return FieldOf(record, "serial") == expected_serial ? 0 : kCertFileWrongSerial;
}

PfxLoadResult loadPfxSilent(const std::string& path, const std::string& password,
                            const std::string& expected_issuer, const std::string& expected_serial) {
  auto bytes = ReadFileBytes(path);
  if (!bytes) return {kPfxFileLoadFailed, {}, path, password};
  auto p12 = cert_internal::ParsePkcs12(*bytes);
  if (!p12) return {kCertFileLoadFailed, {}, path, password};
  if (!VerifyMac(p12.get(), password)) {
    cert_internal::LastOpenSslError();
    return {kPfxFileWrongPassword, {}, path, password};
  }
  if (!expected_issuer.empty()) {
    CertInfoResult info = certInfoFromPkcs12(*bytes, password);
    if (info.code != 0) return {kCertFileWrongIssuer, {}, path, password};
    int match = pfxMatches(info.info, expected_issuer, expected_serial);
    if (match != 0) return {match, {}, path, password};
  }
  RememberPfx(path, password);
  return {0, *bytes, path, password};
}

PfxLoadResult loadPfxInteractive(const std::string& path, const std::string& password,
                                 const std::string& expected_issuer, const std::string& expected_serial,
                                 bool ask_first) {
  // The dialog starts with the path only and then keeps what was typed.
  PfxDialogInput dialog{path, ""};
  std::string current_path = path;
  std::string narrow_password = password;
  for (int attempt = 1;; ++attempt) {
    if (ask_first || attempt > 1 || current_path.empty()) {
      auto input = RunLoadPfxDialog(dialog);
      if (!input) return {kCancelled, {}, dialog.path, ""};
      dialog = *input;
      current_path = input->path;
      narrow_password = platform::ToNarrow(input->password);
    }
    auto bytes = ReadFileBytes(current_path);
    if (!bytes) continue;
    auto p12 = cert_internal::ParsePkcs12(*bytes);
    if (!p12 || !VerifyMac(p12.get(), narrow_password)) {
      cert_internal::LastOpenSslError();
      continue;
    }
    if (!expected_issuer.empty()) {
      CertInfoResult info = certInfoFromPkcs12(*bytes, narrow_password);
      if (info.code != 0 || pfxMatches(info.info, expected_issuer, expected_serial) != 0) continue;
    }
    RememberPfx(current_path, narrow_password);
    return {0, *bytes, current_path, narrow_password};
  }
}

int importPfxIntoStores(const std::string& path_in, const std::string& password_in) {
  std::string path = path_in.empty() ? getPathSetting("env.userPfxFilePath") : path_in;
  std::string password = password_in;
  if (path.empty() || checkPfxFile(path, password) != 0) {
    PfxLoadResult chosen = loadPfxInteractive(path, password, "", "", true);
    if (chosen.code != 0) return chosen.code;
    path = chosen.path;
    password = chosen.password;
  }
  auto bytes = ReadFileBytes(path);
  if (!bytes) return kImportPfxEmpty;
  // The stores are opened first: key containers live beside them, so an
  // unavailable database would otherwise read as a wrong password.
  auto my = openUserStore("MY");
  if (!my) return kImportMyStoreFailed;
  auto ca = openUserStore("CA");
  if (!ca) return kImportCaStoreFailed;
  auto root = openUserStore("ROOT");
  if (!root) return kImportRootStoreFailed;
  auto imported = platform::ImportPfx(*bytes, password, true);
  if (!imported) imported = platform::ImportPfx(*bytes, password, false);
  if (!imported) return kImportPfxRefused;
  // A store that takes the file but cannot keep a certificate must not
  // report the import as done: the customer would lose the certificate.
  for (const auto& cert : imported->Certificates()) {
    std::string kind = classifyCertificate(cert.der);
    if (kind == "CA") {
      if (ca->AddNewer(cert) == platform::AddResult::kFailed) return kImportCaStoreFailed;
    } else if (kind == "ROOT") {
      if (root->AddNewer(cert) == platform::AddResult::kFailed) return kImportRootStoreFailed;
    } else if (my->AddNewer(cert) == platform::AddResult::kFailed) {
      return kImportMyStoreFailed;
    }
  }
  return 0;
}

PfxChoiceResult exportStoreToPfx(platform::CertStore& store, const std::string& path) {
  return SaveThroughDialog(path, [&](const std::string& chosen, const std::string& password) {
    auto bytes = platform::ExportPfx(store, password);
    if (!bytes) {
      ui::CurrentUi().MessageBox("存檔失敗, 請重新指定檔案儲存位置", ui::Buttons::kOk);
      return false;
    }
    return WriteFileShowingErrors(chosen, *bytes) == 0;
  });
}

int installViaTempPfx(const std::string& cert_text) {
  std::string folder = platform::TempFolder();
  platform::MakeFolders(folder);
  std::string temp = folder + "/MEROXXXXXX";
  int fd = platform::CreateUniqueFile(&temp);
  if (fd < 0) return kFailed;
  close(fd);
  std::string saved_path = getPathSetting("env.userPfxFilePath");
  std::string saved_password = getSetting("env.userPfxFilePwd");
  int code = makePfxFromKeyFolder(cert_text, temp, kTempPfxPassword);
  if (code == 0) code = importPfxIntoStores(temp, kTempPfxPassword);
  platform::RemoveFile(temp);
  // The temporary file is gone; keep the settings naming the customer's file.
  RememberPfx(saved_path, saved_password);
  return code;
}

}  // namespace quil
