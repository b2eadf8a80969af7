#include "cert/password_rules.h"

#include <cstdlib>

#include "base/settings.h"
#include "base/text.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

int SettingInt(const char* key) {
  std::string v = getSetting(key);
  return static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
}

struct CharClasses {
  bool digit = false, upper = false, lower = false, other = false;
};

// Scans code page 950 text character by character: a double-byte
// character counts as "other". A plain byte regex would read trail bytes
// such as 0x4B ('K') as letters.
CharClasses ClassesOf(const std::string& narrow) {
  CharClasses c;
  for (size_t i = 0; i < narrow.size(); i += NarrowCharLength(narrow, i)) {
    unsigned char b = static_cast<unsigned char>(narrow[i]);
    if (NarrowCharLength(narrow, i) == 2) {
      c.other = true;
    } else if (b >= '0' && b <= '9') {
      c.digit = true;
    } else if (b >= 'A' && b <= 'Z') {
      c.upper = true;
    } else if (b >= 'a' && b <= 'z') {
      c.lower = true;
    } else {
      c.other = true;
    }
  }
  return c;
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
  CharClasses found = ClassesOf(platform::ToNarrow(password));
  if (rules.digit && !found.digit) return "憑證檔密碼必需包含數字\n";
  if (rules.upper && !found.upper) return "憑證檔密碼必需包含大寫英文字母\n";
  if (rules.lower && !found.lower) return "憑證檔密碼必需包含小寫英文字母\n";
  if (rules.special && !found.other) return "憑證檔密碼必需包含特殊符號\n";
  return {};
}

}  // namespace quil
