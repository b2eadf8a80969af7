#include "cert/openssl_util.h"

#include <openssl/err.h>

namespace quil::cert_internal {

Ptr<X509> ParseCertDer(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return Ptr<X509>(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

std::string CertToDer(X509* cert) {
  unsigned char* out = nullptr;
  int n = i2d_X509(cert, &out);
  if (n <= 0) return {};
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return der;
}

Ptr<PKCS12> ParsePkcs12(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return Ptr<PKCS12>(d2i_PKCS12(nullptr, &p, static_cast<long>(der.size())));
}

std::string BioBytes(BIO* bio) {
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

std::string Base64Encode(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

std::optional<std::string> Base64Decode(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned int acc = 0;
  int bits = 0;
  bool padding = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    size_t v = kAlphabet.find(c);
    if (v == std::string::npos || padding) return std::nullopt;
    acc = (acc << 6) | static_cast<unsigned int>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::string LastOpenSslError() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return {};
  char buf[256] = {};
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

}  // namespace quil::cert_internal
