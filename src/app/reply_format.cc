#include "app/reply_format.h"

#include <cstdarg>
#include <cstdio>

#include "base/result_codes.h"
#include "base/text.h"

namespace quil {

std::string FormatReply(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

std::string AppendMap(const FieldMap& map, bool double_backslashes) {
  std::string out;
  for (const auto& [key, value] : map)
    out += ",'" + key + "':'" + (double_backslashes ? DoubleBackslashes(value) : value) + "'";
  return out;
}

std::string AppendMoCerts(const std::vector<FieldMap>& certs) {
  std::string out = ",'moCerts':[";
  for (size_t i = 0; i < certs.size(); ++i) {
    if (i) out += ",";
    out += "{";
    bool first = true;
    for (const auto& [key, value] : certs[i]) {
      if (!first) out += ",";
      first = false;
      out += "'" + key + "':'" + DoubleBackslashes(value) + "'";
    }
    out += "}";
  }
  return out + "]";
}

std::string PlainReply(int code) {
  return FormatReply(kReplyPlain, code, MakeErrorText(code).c_str());
}

}  // namespace quil
