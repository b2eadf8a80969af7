#include "cert/password_rules.h"

#include <cstdlib>

#include "cert/regex_text.h"
#include "platform/text_codec.h"
#include "proxy/settings.h"

namespace quil {
namespace {

int SettingInt(const char* key) {
  std::string v = getSetting(key);
  return static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
}

}  // namespace

PfxPasswordRules PfxPasswordRulesFromSettings() {
  PfxPasswordRules r;
  r.prompt = getSetting("pfx.pwd.prompt");
  r.minLen = SettingInt("pfx.pwd.minLen");
  r.maxLen = SettingInt("pfx.pwd.maxLen");
  r.digit = getSetting("pfx.pwd.digit") == "Y";
  r.upper = getSetting("pfx.pwd.UCAlph") == "Y";
  r.lower = getSetting("pfx.pwd.LCAlph") == "Y";
  r.special = getSetting("pfx.pwd.punctuation") == "Y";
  return r;
}

size_t Utf16Length(const std::string& utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::string checkPfxPassword(const std::string& password, const PfxPasswordRules& rules,
                             bool class_rules_on_empty) {
  size_t length = Utf16Length(password);
  if (rules.minLen > 0 && length < static_cast<size_t>(rules.minLen)) return "密碼長度不足\n";
  if (rules.maxLen > 0 && length > static_cast<size_t>(rules.maxLen)) return "密碼長度超過限制\n";
  if (password.empty() && !class_rules_on_empty) return {};
  std::string narrow = platform::ToNarrow(password);
  if (rules.digit && !RegexMatchesWhole(narrow, "^.*[0-9]+.*$")) return "憑證檔密碼必需包含數字\n";
  if (rules.upper && !RegexMatchesWhole(narrow, "^.*[A-Z]+.*$")) return "憑證檔密碼必需包含大寫英文字母\n";
  if (rules.lower && !RegexMatchesWhole(narrow, "^.*[a-z]+.*$")) return "憑證檔密碼必需包含小寫英文字母\n";
  if (rules.special && !RegexMatchesWhole(narrow, "^.*[^0-9a-zA-Z]+.*$")) return "憑證檔密碼必需包含特殊符號\n";
  return {};
}

}  // namespace quil
