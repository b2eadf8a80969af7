#include "cert/regex_text.h"

#include <map>
#include <mutex>
#include <regex>

namespace quil {
namespace {

const std::regex& Compiled(const std::string& pattern) {
  static std::mutex mu;
  static std::map<std::string, std::regex> cache;
  std::lock_guard<std::mutex> lock(mu);
  auto it = cache.find(pattern);
  if (it == cache.end()) {
    it = cache.emplace(pattern, std::regex(pattern, std::regex::ECMAScript | std::regex::multiline)).first;
  }
  return it->second;
}

}  // namespace

std::string RegexReplace(const std::string& text, const std::string& pattern, const std::string& format) {
  return std::regex_replace(text, Compiled(pattern), format);
}

std::string RegexReplaceMatchesOnly(const std::string& text, const std::string& pattern,
                                    const std::string& format) {
  return std::regex_replace(text, Compiled(pattern), format, std::regex_constants::format_no_copy);
}

bool RegexMatchesWhole(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, Compiled(pattern));
}

}  // namespace quil
