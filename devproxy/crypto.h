#pragma once
// OpenSSL helpers of the demo proxy: strict base64, both envelopes (server
// and client side, the latter for tests and tools), digests and random
// texts.
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/openssl_ptr.h"

namespace quil::devproxy {

using PKey = ossl::Ptr<EVP_PKEY>;

// Strict: nullopt when anything but the alphabet and final padding appears.
std::optional<std::string> Base64DecodeStrict(std::string_view text);

std::string HexUpper(std::string_view bytes);
std::string Sha1(std::string_view bytes);

// Random bytes; random text of `length` characters from [A-Za-z0-9].
std::string RandomBytes(size_t count);
std::string RandomAlnum(size_t length);
std::string RandomDigits(size_t length);

PKey GenerateRsaKey(int bits);
std::string PrivateKeyPem(EVP_PKEY* key);  // PKCS#8
std::string PublicKeyPem(EVP_PKEY* key);   // SubjectPublicKeyInfo "PUBLIC KEY"
PKey LoadPrivateKeyPem(std::string_view pem);
PKey LoadPublicKeyPem(std::string_view pem);

// Public-key envelope, proxy side: one field value sealed by the client with
// the public key (base64 of one 256-byte block). nullopt when it does not
// open with `private_key`.
std::optional<std::string> OpenRsaField(EVP_PKEY* private_key, std::string_view sealed);
// The reply: 245-byte pieces, each encrypted with the private key (PKCS#1
// v1.5 type 1) into a 256-byte block, all blocks base64-encoded.
std::string SealRsaReply(EVP_PKEY* private_key, std::string_view text);

// Public-key envelope, client side.
std::optional<std::string> SealRsaField(EVP_PKEY* public_key, std::string_view value);
// Opens the blocks that the public key opens; the text up to its first zero.
std::string OpenRsaReply(EVP_PKEY* public_key, std::string_view body);

// Session envelope: AES-128-CBC, key = first 16 bytes of `key`, the fixed IV,
// PKCS#7 padding, base64. Open gives nullopt on bad base64/padding.
inline constexpr char kSessionIv[] = "7302518946071835";
std::optional<std::string> AesEncryptBase64(std::string_view key, std::string_view plain);
std::optional<std::string> AesDecryptBase64(std::string_view key, std::string_view sealed);
// The same on bytes already decoded from base64.
std::optional<std::string> AesDecrypt(std::string_view key, std::string_view bytes);
// Whether the last block of `bytes` decrypts to valid padding under one key:
// the cheap first test when many keys are tried, since a wrong key passes
// it about once in 256 tries, whatever the length. The key's schedule is
// made once, as a request is tried against every live key. Thread-safe.
class AesPaddingProbe {
 public:
  explicit AesPaddingProbe(std::string_view key);
  bool Fits(std::string_view bytes) const;

 private:
  mutable std::mutex mu_;
  ossl::Ptr<EVP_CIPHER_CTX> ctx_;  // one block's decryption; none for a key too short
};

}  // namespace quil::devproxy
