#include "devproxy/form.h"

#include <httplib.h>

namespace quil::devproxy {
namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Every "%" starts a two-digit escape; anything else is a broken form that
// a proxy must not guess at.
bool EscapesAreWhole(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 2 >= text.size() || !IsHex(text[i + 1]) || !IsHex(text[i + 2])) return false;
    i += 2;
  }
  return true;
}

}  // namespace

std::optional<std::map<std::string, std::string>> ParseForm(const std::string& body) {
  if (!EscapesAreWhole(body)) return std::nullopt;
  std::map<std::string, std::string> fields;
  size_t at = 0;
  while (at < body.size()) {
    size_t end = body.find('&', at);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(at, end - at);
    at = end + 1;
    if (pair.empty()) continue;
    size_t eq = pair.find('=');
    std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
    fields[httplib::detail::decode_url(pair.substr(0, eq), true)] = httplib::detail::decode_url(value, true);
  }
  return fields;
}

}  // namespace quil::devproxy
