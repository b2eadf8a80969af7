#include "proxy/base64.h"

namespace quil::proxy {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string base64Decode(const std::string& text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  unsigned acc = 0;
  int n = 0;
  for (char ch : text) {
    if (ch == '\0') break;
    int v = ValueOf(static_cast<unsigned char>(ch));
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<unsigned>(v);
    if (++n == 4) {
      out.push_back(static_cast<char>((acc >> 16) & 0xFF));
      out.push_back(static_cast<char>((acc >> 8) & 0xFF));
      out.push_back(static_cast<char>(acc & 0xFF));
      acc = 0;
      n = 0;
    }
  }
  if (n == 2) {
    out.push_back(static_cast<char>((acc >> 4) & 0xFF));
  } else if (n == 3) {
    out.push_back(static_cast<char>((acc >> 10) & 0xFF));
    out.push_back(static_cast<char>((acc >> 2) & 0xFF));
  }
  return out;
}

}  // namespace quil::proxy
