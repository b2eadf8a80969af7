#include "cert/public_key_blob.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>

#include "base/openssl_ptr.h"

namespace quil {
namespace {

void PutLe32(std::string& out, unsigned long v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string BlobOf(const EVP_PKEY* key) {
  if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return {};
  BIGNUM* n_raw = nullptr;
  BIGNUM* e_raw = nullptr;
  bool read = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n_raw) &&
              EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e_raw);
  ossl::Ptr<BIGNUM> n(n_raw), e(e_raw);
  std::string out;
  if (read && BN_num_bytes(e.get()) <= 4) {
    int bits = EVP_PKEY_get_bits(key);
    int bytes = (bits + 7) / 8;
    out = std::string("\x06\x02\x00\x00\x00\xA4\x00\x00", 8);
    out += "RSA1";
    PutLe32(out, static_cast<unsigned long>(bits));
    PutLe32(out, BN_get_word(e.get()));
    std::string modulus(static_cast<size_t>(bytes), '\0');
    if (BN_bn2lebinpad(n.get(), reinterpret_cast<unsigned char*>(modulus.data()), bytes) == bytes) out += modulus;
    else out.clear();
  }
  return out;
}

}  // namespace

std::string PublicKeyBlobFromCert(const std::string& cert_der) {
  auto cert = ossl::ParseCert(cert_der);
  return cert ? BlobOf(X509_get0_pubkey(cert.get())) : std::string();
}

std::string PublicKeyBlobFromPrivateKey(const std::string& pkcs8_der) {
  return BlobOf(ossl::ParsePkcs8(pkcs8_der).get());
}

}  // namespace quil
