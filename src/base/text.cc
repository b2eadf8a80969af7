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

std::string WithSeparator(std::string_view narrow, char separator) {
  return MapSingleBytes(narrow, [separator](char c, std::string& out) {
    out.push_back(c == '\\' || c == '/' ? separator : c);
  });
}

std::string LastPathElement(std::string_view narrow) {
  size_t start = 0;
  for (size_t i = 0; i < narrow.size(); i += NarrowCharLength(narrow, i))
    if (narrow[i] == '\\' || narrow[i] == '/') start = i + 1;
  return std::string(narrow.substr(start));
}

std::string TrimSpace(std::string_view text) {
  constexpr std::string_view kSpace = " \t\n\v\f\r";
  size_t b = text.find_first_not_of(kSpace);
  if (b == std::string_view::npos) return {};
  size_t e = text.find_last_not_of(kSpace);
  return std::string(text.substr(b, e - b + 1));
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string> SplitNonEmpty(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

}  // namespace quil
