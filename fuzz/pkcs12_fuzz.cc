// Certificate files from outside: a PKCS#12 file opened with its password
// ("pw" for the seeds), and the same bytes read as one certificate, as the
// store reader does.
#include <cstdint>
#include <string>

#include "cert/cert_info.h"
#include "cert/openssl_providers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string error;
  quil::LoadOpenSslProviders(&error);  // the legacy algorithms older files use
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  (void)quil::certInfoFromPkcs12(bytes, "pw");
  (void)quil::certInfoFromContext(bytes);
  return 0;
}
