// The demo proxy's form decoding: any body decodes or is refused, and a
// decoded form encodes back to the same fields.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "devproxy/form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  auto fields = quil::devproxy::ParseForm(body);
  if (fields && quil::devproxy::ParseForm(quil::devproxy::FormEncode(*fields)) != fields) std::abort();
  return 0;
}
