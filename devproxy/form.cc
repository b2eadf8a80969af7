#include "devproxy/form.h"

namespace quil::devproxy {
namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> Decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int hi = Hex(text[i + 1]), lo = Hex(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out += static_cast<char>(hi << 4 | lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::optional<std::map<std::string, std::string>> ParseForm(const std::string& body) {
  std::map<std::string, std::string> fields;
  size_t at = 0;
  while (at < body.size()) {
    size_t end = body.find('&', at);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(at, end - at);
    at = end + 1;
    if (pair.empty()) continue;
    size_t eq = pair.find('=');
    auto name = Decode(pair.substr(0, eq));
    auto value = Decode(eq == std::string::npos ? "" : pair.substr(eq + 1));
    if (!name || !value) return std::nullopt;
    fields[*name] = *value;
  }
  return fields;
}

std::string FormEncode(const std::map<std::string, std::string>& fields) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string body;
  for (const auto& [name, value] : fields) {
    if (!body.empty()) body += '&';
    body += name + "=";
    for (unsigned char c : value) {
      if (isalnum(c) && c < 0x80) body += static_cast<char>(c);
      else if (c == ' ' || (c >= 0x09 && c <= 0x0D)) body += '+';
      else {
        body += '%';
        body += kDigits[c >> 4];
        body += kDigits[c & 15];
      }
    }
  }
  return body;
}

}  // namespace quil::devproxy
