#pragma once
// Base64 of the proxy protocol, through OpenSSL's base64 BIO.
#include <string>

namespace quil {

// Standard base64 (RFC 4648) with "=" padding and no line breaks.
std::string base64Encode(const std::string& bytes);

// Lenient: reads up to the first zero byte, skips every character outside
// the alphabet ("=", line breaks, anything else); a trailing group of two
// or three characters gives one or two bytes, a lone last character none.
std::string base64Decode(const std::string& text);

// True when `text` is base64 and nothing else: alphabet characters in
// groups of four, "=" only as the padding of the last group.
bool IsStrictBase64(const std::string& text);

}  // namespace quil
