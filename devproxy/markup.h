#pragma once
// Text placed inside HTML or XML elements and attribute values.
#include <string>

namespace quil::devproxy {

// `text` with & < > " as entity references.
inline std::string EscapeMarkup(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace quil::devproxy
