#include "cert/cert_request.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <ctime>

#include "base/base64.h"
#include "base/failure_log.h"
#include "base/files.h"
#include "base/openssl_ptr.h"
#include "base/result_codes.h"
#include "base/time_digits.h"
#include "cert/public_key_blob.h"
#include "platform/cert_store.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

using ossl::Ptr;

// Leaves OpenSSL's reason of a failure queued for the caller's log.
Ptr<EVP_PKEY> GenerateRsa(int bits) {
  Ptr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr));
  EVP_PKEY* key = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
      EVP_PKEY_keygen(ctx.get(), &key) != 1)
    return nullptr;
  return Ptr<EVP_PKEY>(key);
}

std::string RequestDer(X509_REQ* req) { return ossl::ToDer(i2d_X509_REQ, req); }

// Signs a request for `key` whose subject is one CN entry `entry`.
bool SignRequest(X509_REQ* req, EVP_PKEY* key, X509_NAME_ENTRY* entry) {
  X509_NAME* subject = X509_REQ_get_subject_name(req);
  return X509_REQ_set_version(req, 0) == 1 && X509_REQ_set_pubkey(req, key) == 1 &&
         X509_NAME_add_entry(subject, entry, -1, 0) == 1 && X509_REQ_sign(req, key, EVP_sha1()) > 0;
}

// UTF-8 to UTF-16 big endian, the content of a BMPString.
std::string Utf16Be(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    unsigned long cp;
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < len && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unsigned long hi = 0xD800 + (cp >> 10), lo = 0xDC00 + (cp & 0x3FF);
      out.push_back(static_cast<char>(hi >> 8));
      out.push_back(static_cast<char>(hi & 0xFF));
      out.push_back(static_cast<char>(lo >> 8));
      out.push_back(static_cast<char>(lo & 0xFF));
    } else {
      out.push_back(static_cast<char>(cp >> 8));
      out.push_back(static_cast<char>(cp & 0xFF));
    }
  }
  return out;
}

using platform::LocalNow;

std::string KeyFileName(const LocalNow& now, int extra_millis) {
  struct tm tm = now.tm;
  int ms = now.millis + extra_millis;
  tm.tm_sec += ms / 1000;
  ms %= 1000;
  if (extra_millis) mktime(&tm);  // carries overflowing seconds into minutes and up
  return TimeDigitsWithMillis(tm, ms) + ".p8";
}

}  // namespace

OpenSslRequest makeOpenSslRequest(const std::string& cn, int bits) {
  OpenSslRequest r;
  if (cn.empty()) return {kRequestNoCn, {}, {}};
  Ptr<X509_REQ> req(X509_REQ_new());
  if (!req) return {kRequestObjectFailed, {}, {}};
  Ptr<EVP_PKEY> key = GenerateRsa(bits);
  if (!key) {
    LogOpenSslFailure("cert", "makeOpenSslRequest", kRequestKeyGenFailed);
    return {kRequestKeyGenFailed, {}, {}};
  }

  Ptr<BIO> key_bio(BIO_new(BIO_s_mem()));
  if (key_bio && PEM_write_bio_PKCS8PrivateKey(key_bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1) {
    (void)BIO_flush(key_bio.get());
    r.key_pem = ossl::MemoryBytes(key_bio.get());
  }
  Ptr<X509_NAME_ENTRY> entry(X509_NAME_ENTRY_create_by_txt(
      nullptr, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn.data()), static_cast<int>(cn.size())));
  if (!entry || !SignRequest(req.get(), key.get(), entry.get())) {
    LogOpenSslFailure("cert", "makeOpenSslRequest", kRequestSignFailed);
    return {kRequestSignFailed, {}, {}};
  }
  r.request = base64Encode(RequestDer(req.get()));
  r.code = r.key_pem.empty() || r.request.empty() ? kFailed : kOk;
  return r;
}

RequestResult makeKeyFileAndRequest(const std::string& cn, int bits, const std::string& folder) {
  OpenSslRequest made = makeOpenSslRequest(cn, bits);
  if (made.code != kOk) return {made.code, {}};
  LocalNow now = platform::CurrentLocalTime();
  std::string path;
  for (int extra = 0;; ++extra) {
    path = folder + "/" + KeyFileName(now, extra);
    if (platform::GetPathInfo(path).kind == platform::PathKind::kMissing) break;
  }
  int code = writeWholeFile(path, made.key_pem);
  if (code != kOk) return {code, {}};
  return {kOk, made.request};
}

RequestResult makeContainerAndRequest(const std::string& cn, int bits) {
  std::string bmp = Utf16Be(platform::ToWide(cn));
  Ptr<X509_NAME_ENTRY> entry(X509_NAME_ENTRY_create_by_NID(nullptr, NID_commonName, V_ASN1_BMPSTRING,
                                                           reinterpret_cast<const unsigned char*>(bmp.data()),
                                                           static_cast<int>(bmp.size())));
  if (!entry) return {kFailed, {}};
  Ptr<EVP_PKEY> key = GenerateRsa(bits);
  if (!key) {
    LogOpenSslFailure("cert", "makeContainerAndRequest", kContainerKeyGenFailed);
    return {kContainerKeyGenFailed, {}};
  }
  platform::KeyContainer container;
  container.name = platform::NewContainerName();
  container.private_key_der = ossl::Pkcs8Der(key.get());
  if (container.name.empty() || container.private_key_der.empty() || !platform::CreateKeyContainer(container))
    return {kContainerCreateFailed, {}};
  Ptr<X509_REQ> req(X509_REQ_new());
  if (!req || !SignRequest(req.get(), key.get(), entry.get())) {
    LogOpenSslFailure("cert", "makeContainerAndRequest", kContainerRequestSignFailed);
    return {kContainerRequestSignFailed, {}};
  }
  std::string request = base64Encode(RequestDer(req.get()));
  if (request.empty()) return {kContainerRequestEmpty, {}};

  LocalNow now = platform::CurrentLocalTime();
  char when[64];
  std::snprintf(when, sizeof when, "%04d/%02d/%02d %02d:%02d:%02d", now.tm.tm_year + 1900, now.tm.tm_mon + 1,
                now.tm.tm_mday, now.tm.tm_hour, now.tm.tm_min, now.tm.tm_sec);
  std::string record = std::string(kPendingKeyRoot) + container.name;
  auto& hive = platform::CurrentUserHive();
  if (hive.CreateKey(record) == platform::kRegSuccess) {
    (void)hive.SetValue(record, platform::RegSz("ProviderName", platform::kEnhancedProviderName));
    (void)hive.SetValue(record, platform::RegDword("ProviderType", platform::kProvRsaFull));
    (void)hive.SetValue(record, platform::RegDword("KeySpec", platform::kAtKeyExchange));
    (void)hive.SetValue(record, platform::RegBinary("PublicKey", PublicKeyBlobFromPrivateKey(container.private_key_der)));
    (void)hive.SetValue(record, platform::RegSz("DateTime", when));
  }
  return {kOk, request};
}

}  // namespace quil
