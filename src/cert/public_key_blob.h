#pragma once
// The Windows PUBLICKEYBLOB layout of an RSA public key: BLOBHEADER (06 02
// 0000, CALG_RSA_KEYX), "RSA1", bit length and exponent as 32-bit little
// endian, then the modulus little endian. Made the same way from a new key
// and from an issued certificate, so the two compare byte for byte.
#include <string>

namespace quil {

// From a certificate (DER); "" when it is not a certificate with an RSA key.
std::string PublicKeyBlobFromCert(const std::string& cert_der);
// From a PKCS#8 private key (DER); "" when it is not an RSA key.
std::string PublicKeyBlobFromPrivateKey(const std::string& pkcs8_der);

}  // namespace quil
