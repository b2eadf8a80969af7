#pragma once
// OpenSSL helpers of the demo proxy: base64, both envelopes (server and
// client side, the latter for tests and tools), digests and random texts.
// Keys are held as opaque handles so callers include no OpenSSL header.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quil::devproxy {

struct PKeyDeleter { void operator()(void* key) const; };
// An EVP_PKEY*.
using PKey = std::unique_ptr<void, PKeyDeleter>;

std::string Base64Encode(std::string_view bytes);
// Lenient: characters outside the alphabet are skipped.
std::string Base64Decode(std::string_view text);
// Strict: nullopt when anything but the alphabet and final padding appears.
std::optional<std::string> Base64DecodeStrict(std::string_view text);

std::string HexUpper(std::string_view bytes);
std::string Sha1(std::string_view bytes);

// Random bytes; random text of `length` characters from [A-Za-z0-9].
std::string RandomBytes(size_t count);
std::string RandomAlnum(size_t length);
std::string RandomDigits(size_t length);

PKey GenerateRsaKey(int bits);
std::string PrivateKeyPem(void* key);  // PKCS#8
std::string PublicKeyPem(void* key);   // SubjectPublicKeyInfo "PUBLIC KEY"
PKey LoadPrivateKeyPem(std::string_view pem);
PKey LoadPublicKeyPem(std::string_view pem);

// Public-key envelope, proxy side: one field value sealed by the client with
// the public key (base64 of one 256-byte block). nullopt when it does not
// open with `private_key`.
std::optional<std::string> OpenRsaField(void* private_key, std::string_view sealed);
// The reply: 245-byte pieces, each encrypted with the private key (PKCS#1
// v1.5 type 1) into a 256-byte block, all blocks base64-encoded.
std::string SealRsaReply(void* private_key, std::string_view text);

// Public-key envelope, client side.
std::optional<std::string> SealRsaField(void* public_key, std::string_view value);
// Opens the blocks that the public key opens; the text up to its first zero.
std::string OpenRsaReply(void* public_key, std::string_view body);

// Session envelope: AES-128-CBC, key = first 16 bytes of `key`, the fixed IV,
// PKCS#7 padding, base64. Open gives nullopt on bad base64/padding.
inline constexpr char kSessionIv[] = "7302518946071835";
std::optional<std::string> AesEncryptBase64(std::string_view key, std::string_view plain);
std::optional<std::string> AesDecryptBase64(std::string_view key, std::string_view sealed);
// The same on bytes already decoded from base64.
std::optional<std::string> AesDecrypt(std::string_view key, std::string_view bytes);
// Whether the last block of `bytes` decrypts to valid padding under `key`:
// the cheap first test when many keys are tried, since a wrong key passes
// it about once in 256 tries, whatever the length.
bool AesPaddingFits(std::string_view key, std::string_view bytes);

}  // namespace quil::devproxy
