#include "devproxy/crypto.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstring>

#include "base/base64.h"
#include "base/hex_text.h"

namespace quil::devproxy {
namespace {

using Ctx = ossl::Ptr<EVP_PKEY_CTX>;
using Bio = ossl::Ptr<BIO>;

// Fetched once: a session request is tried against every live key, and an
// implicit fetch on each try would cost more than the decryption.
const EVP_CIPHER* SessionCipher() {
  static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
  return cipher;
}

const EVP_CIPHER* BlockCipher() {
  static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr);
  return cipher;
}

std::optional<std::string> Aes(bool encrypt, std::string_view key, std::string_view input) {
  if (key.size() < 16 || !SessionCipher()) return std::nullopt;
  ossl::Ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return std::nullopt;
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const auto* iv = reinterpret_cast<const unsigned char*>(kSessionIv);
  if (EVP_CipherInit_ex(ctx.get(), SessionCipher(), nullptr, k, iv, encrypt ? 1 : 0) != 1)
    return std::nullopt;
  std::string out(input.size() + 32, '\0');
  int len = 0, tail = 0;
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  if (EVP_CipherUpdate(ctx.get(), o, &len, reinterpret_cast<const unsigned char*>(input.data()),
                       static_cast<int>(input.size())) != 1)
    return std::nullopt;
  if (EVP_CipherFinal_ex(ctx.get(), o + len, &tail) != 1) return std::nullopt;
  out.resize(len + tail);
  return out;
}

}  // namespace

std::optional<std::string> Base64DecodeStrict(std::string_view text) {
  const std::string copy(text);
  if (!IsStrictBase64(copy)) return std::nullopt;
  return base64Decode(copy);
}

std::string HexUpper(std::string_view bytes) { return HexText(bytes); }

std::string Sha1(std::string_view bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha1(), nullptr);
  return std::string(reinterpret_cast<char*>(md), len);
}

std::string RandomBytes(size_t count) {
  std::string out(count, '\0');
  if (count > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1)
    abort();  // no entropy: nothing this service does is safe any more
  return out;
}

namespace {
std::string RandomFrom(std::string_view set, size_t length) {
  std::string out;
  while (out.size() < length) {
    for (unsigned char c : RandomBytes(length)) {
      // Rejection sampling keeps the distribution uniform.
      if (c >= 256 - 256 % set.size()) continue;
      out += set[c % set.size()];
      if (out.size() == length) break;
    }
  }
  return out;
}
}  // namespace

std::string RandomAlnum(size_t length) {
  return RandomFrom("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", length);
}
std::string RandomDigits(size_t length) { return RandomFrom("0123456789", length); }

PKey GenerateRsaKey(int bits) {
  return PKey(EVP_RSA_gen(static_cast<unsigned>(bits)));
}

std::string PrivateKeyPem(EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  return ossl::MemoryBytes(bio.get());
}

std::string PublicKeyPem(EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_PUBKEY(bio.get(), key);
  return ossl::MemoryBytes(bio.get());
}

PKey LoadPrivateKeyPem(std::string_view pem) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return PKey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

PKey LoadPublicKeyPem(std::string_view pem) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return PKey(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
}

std::optional<std::string> OpenRsaField(EVP_PKEY* private_key, std::string_view sealed) {
  auto block = Base64DecodeStrict(sealed);
  int size = EVP_PKEY_get_size(private_key);
  if (!block || static_cast<int>(block->size()) != size) return std::nullopt;
  Ctx ctx(EVP_PKEY_CTX_new(private_key, nullptr));
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    return std::nullopt;
  std::string out(size, '\0');
  size_t len = out.size();
  if (EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                       reinterpret_cast<const unsigned char*>(block->data()), block->size()) != 1)
    return std::nullopt;
  out.resize(len);
  return out;
}

std::string SealRsaReply(EVP_PKEY* private_key, std::string_view text) {
  int size = EVP_PKEY_get_size(private_key);
  size_t piece = static_cast<size_t>(size - 11);
  std::string blocks;
  for (size_t at = 0; at < text.size(); at += piece) {
    std::string_view part = text.substr(at, piece);
    Ctx ctx(EVP_PKEY_CTX_new(private_key, nullptr));
    std::string out(size, '\0');
    size_t len = out.size();
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_sign(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                      reinterpret_cast<const unsigned char*>(part.data()), part.size()) != 1)
      return {};
    out.resize(len);
    blocks += out;
  }
  return base64Encode(blocks);
}

std::optional<std::string> SealRsaField(EVP_PKEY* public_key, std::string_view value) {
  Ctx ctx(EVP_PKEY_CTX_new(public_key, nullptr));
  std::string out(EVP_PKEY_get_size(public_key), '\0');
  size_t len = out.size();
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                       reinterpret_cast<const unsigned char*>(value.data()), value.size()) != 1)
    return std::nullopt;
  out.resize(len);
  return base64Encode(out);
}

std::string OpenRsaReply(EVP_PKEY* public_key, std::string_view body) {
  std::string bytes = base64Decode(std::string(body));
  size_t size = static_cast<size_t>(EVP_PKEY_get_size(public_key));
  std::string text;
  for (size_t at = 0; at < bytes.size(); at += size) {
    std::string_view block = std::string_view(bytes).substr(at, size);
    Ctx ctx(EVP_PKEY_CTX_new(public_key, nullptr));
    std::string out(size, '\0');
    size_t len = out.size();
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                                reinterpret_cast<const unsigned char*>(block.data()),
                                block.size()) != 1)
      continue;
    text.append(out.data(), len);
  }
  size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

std::optional<std::string> AesEncryptBase64(std::string_view key, std::string_view plain) {
  auto c = Aes(true, key, plain);
  if (!c) return std::nullopt;
  return base64Encode(*c);
}

std::optional<std::string> AesDecryptBase64(std::string_view key, std::string_view sealed) {
  auto bytes = Base64DecodeStrict(sealed);
  if (!bytes) return std::nullopt;
  return AesDecrypt(key, *bytes);
}

AesPaddingProbe::AesPaddingProbe(std::string_view key) {
  if (key.size() < 16 || !BlockCipher()) return;
  ctx_.reset(EVP_CIPHER_CTX_new());
  if (!ctx_ || EVP_DecryptInit_ex(ctx_.get(), BlockCipher(), nullptr,
                                  reinterpret_cast<const unsigned char*>(key.data()), nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx_.get(), 0) != 1)
    ctx_.reset();
}

bool AesPaddingProbe::Fits(std::string_view bytes) const {
  if (!ctx_ || bytes.empty() || bytes.size() % 16 != 0) return false;
  unsigned char plain[32];
  int len = 0;
  const auto* last = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 16);
  {
    // Without padding one block goes in and out whole; the context keeps
    // nothing from one block to the next.
    std::lock_guard<std::mutex> lock(mu_);
    if (EVP_DecryptUpdate(ctx_.get(), plain, &len, last, 16) != 1 || len != 16) return false;
  }
  // CBC: the last block's plain text is its decryption XOR the block before
  // it (or the IV).
  const char* before = bytes.size() >= 32 ? bytes.data() + bytes.size() - 32 : kSessionIv;
  for (int i = 0; i < 16; ++i) plain[i] ^= static_cast<unsigned char>(before[i]);
  unsigned pad = plain[15];
  if (pad == 0 || pad > 16) return false;
  for (unsigned i = 16 - pad; i < 16; ++i)
    if (plain[i] != pad) return false;
  return true;
}

std::optional<std::string> AesDecrypt(std::string_view key, std::string_view bytes) {
  if (bytes.empty() || bytes.size() % 16 != 0) return std::nullopt;
  return Aes(false, key, bytes);
}

}  // namespace quil::devproxy
