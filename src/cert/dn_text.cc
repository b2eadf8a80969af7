#include "cert/dn_text.h"

#include <cstdio>
#include <ctime>

#include "base/regex_text.h"
#include "base/time_digits.h"
#include "platform/clock.h"

namespace quil {

std::string userIdFromCn(const std::string& cn, UserIdPattern pattern) {
  if (pattern == UserIdPattern::kPkcs12Reader) return RegexReplace(cn, "^([^-]+)(-.*)?$", "$1");
  return RegexReplace(cn, "^([^-]+).*$", "$1");
}

std::string serialText(const std::string& bytes) {
  std::string hex;
  char buf[3];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    hex += buf;
  }
  for (char& c : hex) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return RegexReplace(hex, "^[\\s0]+|\\s+$", "");
}

std::string certTimeText(AsnTimeType type, const std::string& time_text) {
  const char* pattern = nullptr;
  if (type == AsnTimeType::kUtcTime) pattern = "^(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2}).*$";
  else if (type == AsnTimeType::kGeneralizedTime) pattern = "^(\\d{4})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2}).*$";
  else return {};
  int field[6];
  for (int i = 0; i < 6; ++i) {
    std::string part = RegexReplace(time_text, pattern, "$" + std::to_string(i + 1));
    field[i] = std::atoi(part.c_str());
  }
  if (!RegexMatchesWhole(time_text, pattern)) return {};
  int year = type == AsnTimeType::kUtcTime ? 2000 + field[0] : field[0];
  if (year <= 1900) return {};
  struct tm utc {};
  utc.tm_year = year - 1900;
  utc.tm_mon = field[1] - 1;
  utc.tm_mday = field[2];
  utc.tm_hour = field[3];
  utc.tm_min = field[4];
  utc.tm_sec = field[5];
  time_t t = platform::UtcToTime(&utc);
  struct tm local {};
  if (!platform::ToLocalTime(t, &local)) return {};
  return TimeDigits(local);
}

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// At `at`: white space, a name of letters, white space and "="; the
// position after the "=", or npos.
size_t AfterName(const std::string& text, size_t at, std::string* name) {
  while (at < text.size() && IsSpace(text[at])) ++at;
  size_t start = at;
  while (at < text.size() && IsLetter(text[at])) ++at;
  if (at == start) return std::string::npos;
  if (name) *name = text.substr(start, at - start);
  while (at < text.size() && IsSpace(text[at])) ++at;
  return at < text.size() && text[at] == '=' ? at + 1 : std::string::npos;
}

}  // namespace

std::vector<DnItem> DnItems(const std::string& dn) {
  std::vector<DnItem> items;
  size_t at = 0;
  while (at < dn.size()) {
    DnItem item;
    size_t value = AfterName(dn, at, &item.name);
    if (value == std::string::npos) return {};
    while (value < dn.size() && IsSpace(dn[value])) ++value;
    // The value runs to the comma before the next NAME=; any other comma
    // is part of it.
    size_t end = value;
    for (;; ++end) {
      end = dn.find(',', end);
      if (end == std::string::npos || AfterName(dn, end + 1, nullptr) != std::string::npos) break;
    }
    item.value = dn.substr(value, end == std::string::npos ? std::string::npos : end - value);
    if (item.value.empty()) return {};
    items.push_back(std::move(item));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return items;
}

std::string pickDnAttribute(const std::string& dn, const std::string& name) {
  for (const DnItem& item : DnItems(dn))
    if (item.name == name) return item.value;
  return dn;
}

std::string extractDnValue(const std::string& dn, const std::string& name) {
  std::string pattern = "^.*\\s*" + name +
                        "\\s*=\\s*\"?([^=]*)\"?(\\s*,\\s*([a-zA-Z0-9_]+)\\s*=\\s*.*)*$";
  std::string value = RegexReplaceMatchesOnly(dn, pattern, "$1");
  return RegexReplace(value, "^[\\s\"]+|[\\s\"]+$", "");
}

std::string issuerKey(const std::string& issuer, const std::string& serial) {
  static const char* const kSteps[][2] = {
      {"\\s*CN\\s*=\\s*", "O_CN="},           {"\\s*OU\\s*=\\s*", "O_OU="},
      {"\\s*O\\s*=\\s*", "O_O="},             {"\\s*C\\s*=\\s*", "O_C="},
      {"\\s*,\\s*O_CN\\s*=\\s*", ",O_CN="},   {"\\s*,\\s*O_OU\\s*=\\s*", ",O_OU="},
      {"\\s*,\\s*O_O\\s*=\\s*", ",O_O="},     {"\\s*,\\s*O_C\\s*=\\s*", ",O_C="},
  };
  std::string text = issuer;
  for (const auto& step : kSteps) text = RegexReplace(text, step[0], step[1]);
  return "//" + text + ",S_SN=" + serial + "//";
}

}  // namespace quil
