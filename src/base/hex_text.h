#pragma once
// Bytes as hexadecimal digits, two a byte.
#include <string>
#include <string_view>

namespace quil {

enum class HexCase { kUpper, kLower };

// Appends the two digits of `byte`.
inline void AppendHex(std::string* out, unsigned char byte, HexCase letters = HexCase::kUpper) {
  const char* digits = letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  out->push_back(digits[byte >> 4]);
  out->push_back(digits[byte & 15]);
}

// Every byte as two digits, with `separator` between bytes unless it is '\0'.
inline std::string HexText(std::string_view bytes, HexCase letters = HexCase::kUpper, char separator = '\0') {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i && separator) out.push_back(separator);
    AppendHex(&out, static_cast<unsigned char>(bytes[i]), letters);
  }
  return out;
}

}  // namespace quil
