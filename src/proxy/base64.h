#pragma once
#include <string>

namespace quil::proxy {

// Standard base64 (RFC 4648) with "=" padding and no line breaks.
std::string base64Encode(const std::string& bytes);

// Lenient: reads up to the first zero byte, skips every character outside
// the alphabet ("=", line breaks, anything else); a trailing group of two
// or three characters gives one or two bytes, a lone last character none.
std::string base64Decode(const std::string& text);

}  // namespace quil::proxy
