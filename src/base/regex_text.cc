#include "base/regex_text.h"

#include <re2/re2.h>

#include <map>
#include <mutex>

#include "base/hex_text.h"

namespace quil {

struct Regex::Engine {
  explicit Engine(const std::string& pattern, const RE2::Options& options) : re(pattern, options) {}
  RE2 re;
};

namespace {

constexpr char kSpaceChars[] = "\\t\\n\\v\\f\\r ";

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

void AppendByte(std::string& out, unsigned value) {
  out += "\\x";
  AppendHex(&out, static_cast<unsigned char>(value), HexCase::kLower);
}

// Reads the escape after the backslash at p[i]; appends it in the engine's
// syntax and returns the index of its last character, or npos when the
// escape has no linear-time equivalent or is malformed.
size_t TranslateEscape(std::string_view p, size_t i, bool in_class, std::string& out) {
  if (i + 1 >= p.size()) return std::string_view::npos;
  char e = p[i + 1];
  switch (e) {
    case 's':
      out += in_class ? std::string(kSpaceChars) : "[" + std::string(kSpaceChars) + "]";
      return i + 1;
    case 'S':
      if (in_class) return std::string_view::npos;
      out += "[^" + std::string(kSpaceChars) + "]";
      return i + 1;
    case 'd': case 'D': case 'w': case 'W': case 't': case 'n': case 'v': case 'f': case 'r':
      out += '\\';
      out += e;
      return i + 1;
    case 'b': case 'B':
      if (in_class) {
        if (e == 'B') return std::string_view::npos;
        AppendByte(out, 0x08);  // backspace inside a class
      } else {
        out += '\\';
        out += e;
      }
      return i + 1;
    case '0':
      if (i + 2 < p.size() && IsDigit(p[i + 2])) return std::string_view::npos;
      AppendByte(out, 0);
      return i + 1;
    case 'x':
      if (i + 3 >= p.size() || !IsHexDigit(p[i + 2]) || !IsHexDigit(p[i + 3])) return std::string_view::npos;
      AppendByte(out, HexValue(p[i + 2]) * 16 + HexValue(p[i + 3]));
      return i + 3;
    case 'u': {
      if (i + 5 >= p.size()) return std::string_view::npos;
      unsigned value = 0;
      for (size_t k = i + 2; k < i + 6; ++k) {
        if (!IsHexDigit(p[k])) return std::string_view::npos;
        value = value * 16 + HexValue(p[k]);
      }
      if (value > 0xFF) return std::string_view::npos;  // text is one byte per character
      AppendByte(out, value);
      return i + 5;
    }
    case 'c':
      if (i + 2 >= p.size() || !IsLetter(p[i + 2])) return std::string_view::npos;
      AppendByte(out, static_cast<unsigned char>(p[i + 2]) % 32);
      return i + 2;
    default:
      // Digits are back-references; other letters mean something else here.
      if (IsDigit(e) || IsLetter(e) || e == '_') return std::string_view::npos;
      AppendByte(out, static_cast<unsigned char>(e));
      return i + 1;
  }
}

// The ECMAScript pattern in the engine's syntax, or nothing when it has no
// linear-time equivalent or is malformed.
std::optional<std::string> ToEngineSyntax(std::string_view p) {
  std::string out = "(?m)";
  bool in_class = false;
  for (size_t i = 0; i < p.size(); ++i) {
    char c = p[i];
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      i = TranslateEscape(p, i, in_class, out);
      if (i == std::string_view::npos) return std::nullopt;
    } else if (in_class) {
      if (c == ']') {
        in_class = false;
        out += ']';
      } else if (c == '[') {
        out += "\\[";
      } else if (byte < 0x20 || byte >= 0x7F) {
        AppendByte(out, byte);
      } else {
        out += c;
      }
    } else if (c == '[') {
      bool negated = i + 1 < p.size() && p[i + 1] == '^';
      size_t first = i + 1 + (negated ? 1 : 0);
      if (first < p.size() && p[first] == ']') {
        // "[]" matches nothing, "[^]" any character.
        out += negated ? "[\\x00-\\xff]" : "[^\\x00-\\xff]";
        i = first;
      } else {
        out += negated ? "[^" : "[";
        in_class = true;
        i = first - 1;
      }
    } else if (c == '(') {
      if (i + 1 < p.size() && p[i + 1] == '?') {
        if (i + 2 >= p.size() || p[i + 2] != ':') return std::nullopt;  // look-around, named groups
      }
      out += c;
    } else if (c == '.') {
      out += "[^\\n\\r]";
    } else if (byte < 0x20 || byte >= 0x7F) {
      AppendByte(out, byte);
    } else {
      out += c;
    }
  }
  if (in_class) return std::nullopt;
  return out;
}

// Appends the replacement text `format` for one match.
void Expand(std::string& out, std::string_view format, std::string_view text, const re2::StringPiece* groups,
            int group_count) {
  auto group = [&](int n) {
    if (groups[n].data() != nullptr) out.append(groups[n].data(), groups[n].size());
  };
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '$' || i + 1 == format.size()) {
      out += c;
      continue;
    }
    char n = format[i + 1];
    if (n == '$') {
      out += '$';
      ++i;
    } else if (n == '&') {
      group(0);
      ++i;
    } else if (n == '`') {
      out.append(text.data(), groups[0].data() - text.data());
      ++i;
    } else if (n == '\'') {
      const char* end = groups[0].data() + groups[0].size();
      out.append(end, text.data() + text.size() - end);
      ++i;
    } else if (IsDigit(n)) {
      // Two digits when they name a group, else one.
      int one = n - '0';
      int two = i + 2 < format.size() && IsDigit(format[i + 2]) ? one * 10 + (format[i + 2] - '0') : 0;
      if (two >= 1 && two < group_count) {
        group(two);
        i += 2;
      } else if (one >= 1 && one < group_count) {
        group(one);
        ++i;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
}

// An empty view may have no data pointer; the engine would then report an
// empty match as no match.
std::string_view WithData(std::string_view text) { return text.data() ? text : std::string_view("", 0); }

std::shared_ptr<const Regex::Engine> Build(std::string_view pattern) {
  auto translated = ToEngineSyntax(pattern);
  if (!translated) return nullptr;
  RE2::Options options;
  options.set_encoding(RE2::Options::EncodingLatin1);
  options.set_log_errors(false);
  auto engine = std::make_shared<const Regex::Engine>(*translated, options);
  return engine->re.ok() ? engine : nullptr;
}

std::optional<Regex> Cached(std::string_view pattern) {
  static std::mutex mu;
  static std::map<std::string, std::optional<Regex>, std::less<>> cache;
  std::lock_guard<std::mutex> lock(mu);
  auto it = cache.find(pattern);
  if (it == cache.end()) it = cache.emplace(std::string(pattern), Regex::Compile(pattern)).first;
  return it->second;
}

}  // namespace

std::optional<Regex> Regex::Compile(std::string_view pattern) {
  auto engine = Build(pattern);
  if (!engine) return std::nullopt;
  return Regex(std::move(engine));
}

std::string Regex::ReplaceAll(std::string_view text, std::string_view format, bool copy_unmatched) const {
  text = WithData(text);
  const RE2& re = engine_->re;
  const int group_count = re.NumberOfCapturingGroups() + 1;
  std::vector<re2::StringPiece> groups(group_count);
  re2::StringPiece whole(text.data(), text.size());
  std::string out;
  size_t copied = 0;  // text before this has been handled
  size_t from = 0;    // where the next search starts
  while (from <= text.size() &&
         re.Match(whole, from, text.size(), RE2::UNANCHORED, groups.data(), group_count)) {
    size_t begin = groups[0].data() - text.data();
    size_t end = begin + groups[0].size();
    if (copy_unmatched) out.append(text.substr(copied, begin - copied));
    Expand(out, format, text, groups.data(), group_count);
    copied = end;
    from = end == begin ? end + 1 : end;
  }
  if (copy_unmatched && copied < text.size()) out.append(text.substr(copied));
  return out;
}

std::string Regex::Replace(std::string_view text, std::string_view format) const {
  return ReplaceAll(text, format, true);
}

std::string Regex::ReplaceMatchesOnly(std::string_view text, std::string_view format) const {
  return ReplaceAll(text, format, false);
}

bool Regex::MatchesWhole(std::string_view text) const {
  text = WithData(text);
  return engine_->re.Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::ANCHOR_BOTH,
                           nullptr, 0);
}

std::optional<std::vector<std::optional<std::string>>> Regex::Search(std::string_view text) const {
  text = WithData(text);
  const RE2& re = engine_->re;
  const int group_count = re.NumberOfCapturingGroups() + 1;
  std::vector<re2::StringPiece> groups(group_count);
  if (!re.Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::UNANCHORED, groups.data(),
                group_count))
    return std::nullopt;
  std::vector<std::optional<std::string>> out;
  for (const auto& g : groups) {
    if (g.data() == nullptr) out.emplace_back();
    else out.emplace_back(std::string(g.data(), g.size()));
  }
  return out;
}

std::string RegexReplace(std::string_view text, std::string_view pattern, std::string_view format) {
  auto re = Cached(pattern);
  return re ? re->Replace(text, format) : std::string(text);
}

std::string RegexReplaceMatchesOnly(std::string_view text, std::string_view pattern, std::string_view format) {
  auto re = Cached(pattern);
  return re ? re->ReplaceMatchesOnly(text, format) : std::string();
}

bool RegexMatchesWhole(std::string_view text, std::string_view pattern) {
  auto re = Cached(pattern);
  return re && re->MatchesWhole(text);
}

std::optional<std::vector<std::optional<std::string>>> RegexSearch(std::string_view text,
                                                                   std::string_view pattern) {
  auto re = Cached(pattern);
  if (!re) return std::nullopt;
  return re->Search(text);
}

}  // namespace quil
