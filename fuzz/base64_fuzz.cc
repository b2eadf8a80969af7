// Base64 as the proxy and the page send it: decoding never fails on any
// text, and encoding then decoding gives the bytes back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "proxy/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string decoded = quil::proxy::base64Decode(bytes);
  if (quil::proxy::base64Decode(quil::proxy::base64Encode(decoded)) != decoded) std::abort();
  std::string encoded = quil::proxy::base64Encode(bytes);
  if (encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
      std::string::npos)
    std::abort();
  return 0;
}
