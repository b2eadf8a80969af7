// What any local process can send the bridge: request heads (the token
// they present) and /api/call bodies (method and arguments).
#include <cstdint>
#include <string>

#include "app/host/bridge_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)quil::host::PresentedToken(text);
  (void)quil::host::ParseCallBody(text);
  return 0;
}
