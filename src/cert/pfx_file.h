#pragma once
// PKCS#12 files: writing them from an issued certificate and a key file,
// and opening and checking them without asking anything. The dialog loops
// are in pfx_with_dialogs.h, the import into the stores in pfx_import.h.
//
// Paths are UTF-8 with "/"; passwords are narrow bytes as OpenSSL takes
// them. Files are written with mode 0600 by atomic replacement. The files
// written here hold: the key in a shrouded key bag (pbeWithSHAAnd3-
// KeyTripleDES-CBC), the certificates in a safe encrypted with
// pbeWithSHAAnd40BitRC2-CBC, 2048 iterations each, an HMAC-SHA-1 MAC with
// one iteration; friendly name (the subject's CN) and local key id on the
// user certificate and key bag; chain certificates without attributes.
// This needs LoadOpenSslProviders() to have succeeded.
//
// After every successful open or save, the settings env.userPfxFilePath
// and env.userPfxFilePwd name the file and password used.
#include <string>

#include "base/result_codes.h"
#include "cert/cert_info.h"

namespace quil {

// Writes a PKCS#12 file from an issued certificate (base64 of a DER
// certificate, or of a PKCS#7 bundle with its chain) and a PEM private key.
// In a bundle, the user certificate is the first whose basic constraints do
// not mark an authority, else the one the key belongs to, else the last;
// the others are the chain. Codes: 52101 empty certificate text, 1 empty
// key text, 52105 empty path, 52109 no certificate, 52111 the key does not
// belong to the certificate (or is unreadable), 52113 cannot be written, 0.
// No dialog, no message.
int makePfxFile(const std::string& cert_text, const std::string& key_pem, const std::string& path,
                const std::string& password);

struct [[nodiscard]] PfxBytesResult {
  int code = kFailed;  // makePfxFile's codes that come before the file
  std::string der;     // the PKCS#12 file's bytes when the code is 0
};

// The bytes makePfxFile writes, made in memory: codes 52101, 1, 52109,
// 52111 or 0.
PfxBytesResult encodePfx(const std::string& cert_text, const std::string& key_pem, const std::string& password);

// makePfxFile with each ".p8" file of env.userPrivateKeyFolder until one
// fits; stores the two settings. Code 0, or 1 when no key file fits. Key
// files are never deleted.
int makePfxFromKeyFolder(const std::string& cert_text, const std::string& path, const std::string& password);

// Codes: 52201 the file cannot be read, 52203 not a PKCS#12 or wrong
// password, 52403 cannot be unpacked, 0.
int checkPfxFile(const std::string& path, const std::string& password);

// Codes 0 / 52205 (other issuer) / 52207 (other serial): the record's
// issuer CN must equal the expected one; O, OU, S, L, C are compared only
// when the expected issuer text has them; the serial must be equal exactly.
int pfxMatches(const CertInfo& record, const std::string& expected_issuer, const std::string& expected_serial);

struct [[nodiscard]] PfxLoadResult {
  int code = kFailed;
  std::string pkcs12;    // the file's DER bytes, MAC verified
  std::string path;      // the file opened (in/out of the interactive form)
  std::string password;  // its password ("" after a cancel)
  std::string error_text;  // OpenSSL's reason when the file did not open
};

// Opens the file without asking. An empty expected issuer accepts any
// certificate. Codes: 52301 unreadable or empty, 52203 not a PKCS#12,
// 52303 wrong password, 52205 other issuer (or unreadable certificate),
// 52207 other serial, 0 (settings stored).
PfxLoadResult loadPfxSilent(const std::string& path, const std::string& password,
                            const std::string& expected_issuer, const std::string& expected_serial);

// Why PKCS#12 bytes did not open, in the terms a customer can act on.
enum class PfxRefusal {
  kNone,           // they open with the password: the reason lies elsewhere
  kNotPkcs12,      // no PKCS#12 structure at all
  kWrongPassword,  // the MAC does not verify with the password
  kDamaged,        // a PKCS#12 structure that is cut short or broken
};

// Tells why `bytes` do not open with `password`. No message.
PfxRefusal WhyPfxRefused(const std::string& bytes, const std::string& password);

// The customer's reason for a refusal, in Traditional Chinese (wide):
// "憑證檔密碼錯誤", "檔案不是 PKCS#12 憑證檔", "憑證檔已損毀"; "" for kNone.
std::string PfxRefusalText(PfxRefusal refusal);

// loadPfxSilent without storing the settings, and without keeping the
// password in its result: for a program that must not hold the password
// beyond one use.
PfxLoadResult openPfxFile(const std::string& path, const std::string& password, const std::string& expected_issuer,
                          const std::string& expected_serial);

// Stores `path` and `password` as env.userPfxFilePath and env.userPfxFilePwd.
void RememberPfxFile(const std::string& path, const std::string& password);

}  // namespace quil
