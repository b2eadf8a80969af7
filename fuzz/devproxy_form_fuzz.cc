// The demo proxy's form decoding: any body decodes or is refused, and a
// decoded form, escaped again byte by byte, decodes to the same fields.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "devproxy/form.h"

namespace {

// Letters and digits as they are, white space as "+", every other byte as
// "%XX": the escaping the client uses, on names as well as values.
std::string Escape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  auto fields = quil::devproxy::ParseForm(body);
  if (!fields) return 0;
  std::string again;
  for (const auto& [name, value] : *fields) {
    if (!again.empty()) again.push_back('&');
    again += Escape(name) + "=" + Escape(value);
  }
  if (quil::devproxy::ParseForm(again) != fields) std::abort();
  return 0;
}
