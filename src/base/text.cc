#include "base/text.h"

namespace quil {
namespace {

// Copies `narrow`, passing each single-byte character through `one`.
template <typename One>
std::string MapSingleBytes(std::string_view narrow, One one) {
  std::string out;
  out.reserve(narrow.size());
  for (size_t i = 0; i < narrow.size();) {
    size_t n = NarrowCharLength(narrow, i);
    if (n == 1) one(narrow[i], out);
    else out.append(narrow.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace

size_t NarrowCharLength(std::string_view narrow, size_t at) {
  unsigned char b = static_cast<unsigned char>(narrow[at]);
  return b >= 0x81 && b <= 0xFE && at + 1 < narrow.size() ? 2 : 1;
}

std::string DoubleBackslashes(std::string_view narrow) {
  return MapSingleBytes(narrow, [](char c, std::string& out) {
    out.push_back(c);
    if (c == '\\') out.push_back('\\');
  });
}

std::string BackslashesToSlashes(std::string_view narrow) {
  return MapSingleBytes(narrow, [](char c, std::string& out) { out.push_back(c == '\\' ? '/' : c); });
}

}  // namespace quil
