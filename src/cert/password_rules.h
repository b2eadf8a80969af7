#pragma once
// The operator's rules for PKCS#12 passwords (settings pfx.pwd.*).
#include <string>

namespace quil {

struct PfxPasswordRules {
  std::string prompt;  // pfx.pwd.prompt, narrow
  int minLen = 0;      // 0 or less: no limit
  int maxLen = 0;      // 0 or less: no limit
  bool digit = false;
  bool upper = false;
  bool lower = false;
  bool special = false;
};

// Reads the rules from the settings now (pfx.pwd.prompt, minLen, maxLen,
// digit, UCAlph, LCAlph, punctuation; a class rule is on only for "Y").
PfxPasswordRules PfxPasswordRulesFromSettings();

// The first rule `password` (wide, UTF-8) breaks, as the message to show
// (wide, ending in "\n"), or "" when it passes. Lengths count UTF-16 units;
// the class rules look at the password narrowed to code page 950, read
// character by character (as the rules "^.*[0-9]+.*$" etc. mean it), where a
// double-byte character counts as "other than 0-9, A-Z, a-z". With
// `class_rules_on_empty` false an empty password skips the class rules.
std::string checkPfxPassword(const std::string& password, const PfxPasswordRules& rules,
                             bool class_rules_on_empty = true);

// Length of a UTF-8 text in UTF-16 units.
size_t Utf16Length(const std::string& utf8);

}  // namespace quil
