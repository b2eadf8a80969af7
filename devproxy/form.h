#pragma once
// application/x-www-form-urlencoded bodies as the client writes them
// (proxy/transport.h formEncode): fields in name order, "+" for white
// space, "%XX" for everything else that is not a letter or digit.
#include <map>
#include <optional>
#include <string>

namespace quil::devproxy {

// Decoded fields; nullopt for a malformed escape. A repeated name keeps
// the last value.
std::optional<std::map<std::string, std::string>> ParseForm(const std::string& body);

}  // namespace quil::devproxy
