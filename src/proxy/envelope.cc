#include "proxy/envelope.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "base/base64.h"
#include "base/failure_log.h"
#include "base/files.h"
#include "base/openssl_ptr.h"
#include "base/result_codes.h"
#include "proxy/operator_config.h"
#include "proxy/transport.h"

namespace quil::proxy {
namespace {

constexpr size_t kAesKeyBytes = 16;

std::string& SessionKeyStore() {
  static std::string key;
  return key;
}

using PkeyCtx = ossl::Ptr<EVP_PKEY_CTX>;

// One AES-128-CBC pass with the session key and the fixed IV.
std::optional<std::string> AesCbc(const std::string& key, const std::string& in, bool encrypt) {
  ossl::Ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (!ctx || key.size() < kAesKeyBytes) return std::nullopt;
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const auto* iv = reinterpret_cast<const unsigned char*>(kSessionIv);
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, k, iv, encrypt ? 1 : 0) != 1)
    return std::nullopt;
  std::string out(in.size() + 32, '\0');
  int len1 = 0, len2 = 0;
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  if (EVP_CipherUpdate(ctx.get(), o, &len1, reinterpret_cast<const unsigned char*>(in.data()),
                       static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), o + len1, &len2) != 1)
    return std::nullopt;
  out.resize(static_cast<size_t>(len1 + len2));
  return out;
}

// Logs a reply that did not open with OpenSSL's reason; either way the
// queue is left empty (a block that did not open leaves its error behind).
bool OpenedOrLogged(const std::optional<std::string>& text, const char* envelope, const std::string& url) {
  if (text) {
    ERR_clear_error();
    return true;
  }
  LogOpenSslFailure("proxy", std::string(envelope) + " " + url.substr(url.rfind('/') + 1), kFailed);
  return false;
}

}  // namespace

const std::string& sessionKey() { return SessionKeyStore(); }
void SetSessionKey(const std::string& key) { SessionKeyStore() = key; }

std::string proxyUrl(const std::string& action) { return CurrentOperatorConfig().proxy_url + action; }

struct ProxyPublicKey::Impl {
  ossl::Ptr<EVP_PKEY> pkey;
};

ProxyPublicKey::ProxyPublicKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ProxyPublicKey::~ProxyPublicKey() = default;

std::unique_ptr<ProxyPublicKey> ProxyPublicKey::FromPem(const std::string& pem) {
  ossl::Ptr<BIO> bio = ossl::MemoryReader(pem);
  if (!bio) return nullptr;
  ossl::Ptr<EVP_PKEY> pkey(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!pkey || EVP_PKEY_get_base_id(pkey.get()) != EVP_PKEY_RSA) {
    LogOpenSslFailure("proxy", "ProxyPublicKey::FromPem", kFailed);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->pkey = std::move(pkey);
  return std::unique_ptr<ProxyPublicKey>(new ProxyPublicKey(std::move(impl)));
}

int ProxyPublicKey::BlockSize() const { return EVP_PKEY_get_size(impl_->pkey.get()); }

std::optional<std::string> ProxyPublicKey::Encrypt(const std::string& value) const {
  PkeyCtx ctx(EVP_PKEY_CTX_new(impl_->pkey.get(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    return std::nullopt;
  size_t out_len = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(value.data());
  if (EVP_PKEY_encrypt(ctx.get(), nullptr, &out_len, in, value.size()) != 1) return std::nullopt;
  std::string out(out_len, '\0');
  if (EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &out_len, in,
                       value.size()) != 1)
    return std::nullopt;
  out.resize(out_len);
  return out;
}

std::optional<std::string> ProxyPublicKey::Recover(const std::string& block) const {
  PkeyCtx ctx(EVP_PKEY_CTX_new(impl_->pkey.get(), nullptr));
  if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    return std::nullopt;
  std::string out(static_cast<size_t>(BlockSize()), '\0');
  size_t out_len = out.size();
  if (EVP_PKEY_verify_recover(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &out_len,
                              reinterpret_cast<const unsigned char*>(block.data()), block.size()) != 1)
    return std::nullopt;
  out.resize(out_len);
  return out;
}

std::string CutAtZero(const std::string& bytes) {
  size_t zero = bytes.find('\0');
  return zero == std::string::npos ? bytes : bytes.substr(0, zero);
}

FieldMap SealFieldsRsa(const ProxyPublicKey& key, const FieldMap& fields) {
  FieldMap sealed;
  for (const auto& [name, value] : fields) {
    if (value.empty()) continue;
    auto cipher = key.Encrypt(value);
    sealed[name] = cipher ? base64Encode(*cipher) : std::string();
  }
  return sealed;
}

std::optional<std::string> OpenRsaBody(const ProxyPublicKey& key, const std::string& body) {
  std::string bytes = base64Decode(body);
  if (bytes.empty()) return std::nullopt;
  const size_t block = static_cast<size_t>(key.BlockSize());
  std::string plain;
  bool any = false;
  for (size_t at = 0; at < bytes.size(); at += block) {
    auto part = key.Recover(bytes.substr(at, block));
    if (!part) continue;  // a block that does not open adds nothing
    plain += *part;
    any = any || !part->empty();
  }
  if (!any) return std::nullopt;
  return CutAtZero(plain);
}

FieldMap SealFieldsAes(const std::string& key, const FieldMap& fields) {
  FieldMap sealed;
  for (const auto& [name, value] : fields) {
    if (value.empty()) {
      sealed[name];
      continue;
    }
    auto cipher = AesCbc(key, value, true);
    sealed[name] = cipher ? base64Encode(*cipher) : std::string();
  }
  return sealed;
}

std::optional<std::string> OpenAesBody(const std::string& key, const std::string& body) {
  std::string bytes = base64Decode(body);
  if (bytes.empty()) return std::nullopt;
  auto plain = AesCbc(key, bytes, false);
  if (!plain || plain->empty()) return std::nullopt;
  return CutAtZero(*plain);
}

SealedReply postRsa(const std::string& url, const FieldMap& fields) {
  SealedReply reply;
  auto key = ProxyPublicKey::FromPem(readWholeFile(CurrentOperatorConfig().public_key).value_or(""));
  if (!key) return reply;  // nothing can be sealed: send nothing
  HttpReply http = httpPost(url, SealFieldsRsa(*key, fields));
  if (http.result != kHttpOk) {
    reply.result = http.result;
    return reply;
  }
  auto text = OpenRsaBody(*key, http.body);
  if (!OpenedOrLogged(text, "postRsa", url)) return reply;
  reply.result = 0;
  reply.text = std::move(*text);
  return reply;
}

SealedReply postAes(const std::string& key, const std::string& url, const FieldMap& fields) {
  SealedReply reply;
  if (key.size() < kAesKeyBytes) return reply;  // never send under an undefined key
  const std::string aes_key = key.substr(0, kAesKeyBytes);
  HttpReply http = httpPost(url, SealFieldsAes(aes_key, fields));
  if (http.result != kHttpOk) {
    reply.result = http.result;
    return reply;
  }
  auto text = OpenAesBody(aes_key, http.body);
  if (!OpenedOrLogged(text, "postAes", url)) return reply;
  reply.result = 0;
  reply.text = std::move(*text);
  return reply;
}

}  // namespace quil::proxy
