#include "cert/openssl_util.h"

#include <openssl/err.h>

#include "proxy/base64.h"

namespace quil::cert_internal {

Ptr<X509> ParseCertDer(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return Ptr<X509>(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
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

std::string Base64Encode(const std::string& bytes) { return proxy::base64Encode(bytes); }

std::optional<std::string> Base64Decode(const std::string& text) {
  std::string bytes = proxy::base64Decode(text);
  if (bytes.empty()) return std::nullopt;
  return bytes;
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
