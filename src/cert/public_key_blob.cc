#include "cert/public_key_blob.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>

#include "cert/openssl_util.h"

namespace quil {
namespace {

void PutLe32(std::string& out, unsigned long v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string BlobOf(const EVP_PKEY* key) {
  if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return {};
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  std::string out;
  if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) &&
      BN_num_bytes(e) <= 4) {
    int bits = EVP_PKEY_get_bits(key);
    int bytes = (bits + 7) / 8;
    out = std::string("\x06\x02\x00\x00\x00\xA4\x00\x00", 8);
    out += "RSA1";
    PutLe32(out, static_cast<unsigned long>(bits));
    PutLe32(out, BN_get_word(e));
    std::string modulus(static_cast<size_t>(bytes), '\0');
    if (BN_bn2lebinpad(n, reinterpret_cast<unsigned char*>(modulus.data()), bytes) == bytes) out += modulus;
    else out.clear();
  }
  BN_free(n);
  BN_free(e);
  return out;
}

}  // namespace

std::string PublicKeyBlobFromCert(const std::string& cert_der) {
  auto cert = cert_internal::ParseCertDer(cert_der);
  return cert ? BlobOf(X509_get0_pubkey(cert.get())) : std::string();
}

std::string PublicKeyBlobFromPrivateKey(const std::string& pkcs8_der) {
  const auto* p = reinterpret_cast<const unsigned char*>(pkcs8_der.data());
  PKCS8_PRIV_KEY_INFO* info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(pkcs8_der.size()));
  if (!info) return {};
  cert_internal::Ptr<EVP_PKEY> key(EVP_PKCS82PKEY(info));
  PKCS8_PRIV_KEY_INFO_free(info);
  return BlobOf(key.get());
}

}  // namespace quil
