// Base64 as the proxy and the page send it: decoding gives some bytes (or
// none) for any text, and encoding gives strict base64 that decodes back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  (void)quil::IsStrictBase64(bytes);
  std::string decoded = quil::base64Decode(bytes);
  if (quil::base64Decode(quil::base64Encode(decoded)) != decoded) std::abort();
  std::string encoded = quil::base64Encode(bytes);
  if (!bytes.empty() && !quil::IsStrictBase64(encoded)) std::abort();
  if (quil::base64Decode(encoded) != bytes) std::abort();
  return 0;
}
